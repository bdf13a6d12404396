#include "tools/kavro-robot-sim/robot_page.h"

#include <httplib.h>

#include <chrono>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kavro::robot {

namespace {

// The server accepts once its loop runs; stopping it before then would leave the loop running for ever.
void wait_running(httplib::Server& server) {
    for (int i = 0; i < 2000 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

namespace {

std::string number(double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

bool read_number(const std::string& text, double& v) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(v);
}

} // namespace

std::string robot_status_json(const RobotInfo& i) {
    return "{\"battery\":" + number(i.battery, 1) + ",\"wheel1\":" + std::to_string(i.wheel1) +
           ",\"wheel2\":" + std::to_string(i.wheel2) + ",\"speed\":" + number(i.speed, 2) +
           ",\"heading\":" + number(i.heading, 1) + ",\"signal\":" + std::to_string(i.signal) +
           ",\"latitude\":" + number(i.latitude, 6) + ",\"longitude\":" + number(i.longitude, 6) +
           ",\"top_speed\":" + number(i.top_speed, 2) + ",\"commands\":" + std::to_string(i.commands) +
           ",\"controller\":\"" + i.controller + "\"}";
}

std::string robot_page_html(const std::string& title) {
    return R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>)" + title + R"(</title>
<style>
body { font: 14px sans-serif; background: #f2f4f6; color: #222; margin: 0; }
header { background: #2f4a63; color: #fff; padding: 10px 16px; font-size: 18px; }
main { display: flex; gap: 16px; padding: 16px; flex-wrap: wrap; }
section { background: #fff; border: 1px solid #ccd3da; border-radius: 4px; padding: 12px 16px; min-width: 280px; }
h2 { font-size: 15px; margin: 0 0 8px; color: #2f4a63; }
td { padding: 3px 10px 3px 0; } td:first-child { color: #666; }
.bar { width: 160px; height: 12px; background: #dde; display: inline-block; vertical-align: middle; }
.bar i { display: block; height: 100%; background: #4caf50; }
label { display: block; margin: 6px 0; } input { width: 90px; }
#msg { color: #2a7; margin-top: 6px; }
</style></head><body>
<header>)" + title + R"(</header>
<main>
<section><h2>Status</h2><table>
<tr><td>Battery</td><td><span class="bar"><i id="batbar"></i></span> <span id="battery"></span> %</td></tr>
<tr><td>Wheels (right, left)</td><td id="wheels"></td></tr>
<tr><td>Speed</td><td><span id="speed"></span> m/s, heading <span id="heading"></span>&deg;</td></tr>
<tr><td>Signal</td><td><span id="signal"></span> %</td></tr>
<tr><td>Position</td><td id="position"></td></tr>
<tr><td>Driven by</td><td id="controller"></td></tr>
<tr><td>Commands received</td><td id="commands"></td></tr>
</table></section>
<section><h2>Settings</h2>
<form id="settings">
<label>Top speed (m/s) <input name="top_speed" id="top_speed" type="number" min="0.1" max="5" step="0.1"></label>
<label>Battery level (%) <input name="battery" id="battery_set" type="number" min="0" max="100" step="1"></label>
<button>Apply</button><div id="msg"></div>
</form></section>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
let first = true;
async function refresh() {
  try {
    const s = await (await fetch("status")).json();
    $("battery").textContent = s.battery.toFixed(1);
    $("batbar").style.width = s.battery + "%";
    $("wheels").textContent = s.wheel1 + ", " + s.wheel2;
    $("speed").textContent = s.speed.toFixed(2);
    $("heading").textContent = s.heading.toFixed(0);
    $("signal").textContent = s.signal;
    $("position").textContent = s.latitude.toFixed(6) + ", " + s.longitude.toFixed(6);
    $("controller").textContent = s.controller || "nobody yet";
    $("commands").textContent = s.commands;
    if (first) { $("top_speed").value = s.top_speed; $("battery_set").value = Math.round(s.battery); first = false; }
  } catch (e) {}
}
$("settings").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const r = await fetch("settings", { method: "POST", body: new URLSearchParams(new FormData($("settings"))) });
  $("msg").textContent = r.ok ? "Applied." : "Refused: " + await r.text();
  refresh();
});
refresh();
setInterval(refresh, 1000);
</script></body></html>
)";
}

struct RobotPages::Served {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::uint16_t port = 0;
};

RobotPages::RobotPages(RobotSimulator& sim) : sim_(sim) {}
RobotPages::~RobotPages() { stop(); }

std::uint16_t RobotPages::port(std::size_t n) const { return servers_.at(n)->port; }

bool RobotPages::start(std::size_t index, const std::string& address, std::uint16_t port) {
    auto served = std::make_unique<Served>();
    Served& s = *served;
    s.server = std::make_unique<httplib::Server>();
    const std::string title = "KAVRO robot " + std::to_string(index + 1) + " (" + address + ")";
    s.server->Get("/", [title](const httplib::Request&, httplib::Response& res) {
        res.set_content(robot_page_html(title), "text/html; charset=utf-8");
    });
    s.server->Get("/status", [this, index](const httplib::Request&, httplib::Response& res) {
        res.set_content(robot_status_json(sim_.info(index)), "application/json");
    });
    s.server->Post("/settings", [this, index](const httplib::Request& req, httplib::Response& res) {
        double top = 0, battery = 0;
        if (!read_number(req.get_param_value("top_speed"), top) || top < 0.1 || top > 5 ||
            !read_number(req.get_param_value("battery"), battery) || battery < 0 || battery > 100) {
            res.status = 400;
            res.set_content("top speed 0.1..5 m/s, battery 0..100 %", "text/plain");
            return;
        }
        sim_.set_robot_settings(index, top, battery);
        res.set_content("ok", "text/plain");
    });
    s.server->set_payload_max_length(4096);
    const int bound = port == 0 ? s.server->bind_to_any_port(address) : (s.server->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        std::fprintf(stderr, "kavro-robot-sim: robot %zu's web page cannot listen on %s:%u\n", index + 1,
                     address.c_str(), unsigned(port));
        return false;
    }
    s.port = static_cast<std::uint16_t>(bound);
    httplib::Server* server = s.server.get();
    s.thread = std::thread([server] { server->listen_after_bind(); });
    wait_running(*server);
    servers_.push_back(std::move(served));
    return true;
}

void RobotPages::stop() {
    for (auto& s : servers_) s->server->stop();
    for (auto& s : servers_)
        if (s->thread.joinable()) s->thread.join();
    servers_.clear();
}

} // namespace kavro::robot
