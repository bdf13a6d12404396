#include "mixer/protocol.h"

#include "config_files/config_files.h"
#include "mixer/graph.h"
#include "platform/sys/paths.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

namespace kavro::mixer {

namespace {

constexpr std::size_t kReplyTextLimit = kDatagramSize - 1;
constexpr std::size_t kShortestEntry = 6; // "a.xml" and its space
constexpr std::size_t kMaxEntriesExamined = 100000;
constexpr const char* kPendingName = "kavro.xml";
constexpr const char* kLeftOutName = "interface_old.xml";

bool flag(const TextTokens& t, std::size_t i) { return t.as_int(i) == 1; }

// The twelve tokens of one channel, in the request's order of the settings: 1, 4, 2, 3.
void store_channel_tokens(const TextTokens& t, std::size_t first, SensorChannelRecord& r) {
    r.setting1_on = flag(t, first + 0);
    r.setting1_a = t.as_int(first + 1);
    r.setting1_b = t.as_int(first + 2);
    r.setting4_on = flag(t, first + 3);
    r.setting4_a = t.as_int(first + 4);
    r.setting4_b = t.as_int(first + 5);
    r.setting2_on = flag(t, first + 6);
    r.setting2_a = t.as_int(first + 7);
    r.setting2_b = t.as_int(first + 8);
    r.setting3_on = flag(t, first + 9);
    r.setting3_a = t.as_int(first + 10);
    r.setting3_b = t.as_int(first + 11);
}

void apply_sensor_tokens(MixerState& s, const TextTokens& t) {
    if (!s.objects.sensor) return;
    for (int c = 1; c <= kSensorChannels; ++c) {
        ConsoleSensorChannelRecord full{};
        full.settings = s.record;
        s.last_result.store(s.objects.sensor->GetConfig(c, &full), std::memory_order_relaxed);
        s.record = full.settings;
        store_channel_tokens(t, kLayoutTokens + kTokensPerChannel * std::size_t(c - 1), s.record);
        s.last_result.store(s.objects.sensor->SetConfig(c, &s.record), std::memory_order_relaxed);
    }
}

// A name that may only designate a file directly in the configs folder, and holds no ".." anywhere.
bool acceptable_name(std::string_view name) {
    return is_plain_file_name(name, name.size()) && name.find("..") == std::string_view::npos;
}

void choose_configuration(MixerState& s, std::string_view name) {
    if (!acceptable_name(name)) {
        s.refusals.write("Talvor: setconf refused: \"%.*s\" is not a file name of the configs folder", int(name.size()),
                         name.data());
        return;
    }
    const std::filesystem::path dir = std::filesystem::path(s.configs_dir);
    const std::filesystem::path from = dir / std::string(name);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(from, ec)) {
        s.refusals.write("Talvor: setconf: no configuration \"%.*s\"", int(name.size()), name.data());
        return;
    }
    if (name == kPendingName) return; // already pending
    if (!sys::copy_file(from, dir / kPendingName, false, ec))
        s.refusals.write("Talvor: setconf: \"%.*s\" could not be copied: %s", int(name.size()), name.data(),
                         ec.message().c_str());
}

} // namespace

LayoutOutcome handle_layout(MixerState& s, const TextTokens& t) {
    const double first = t.as_double(0);
    if (first < 0) return first == -2 ? LayoutOutcome::quit_and_shut_down : LayoutOutcome::quit;
    std::lock_guard lock(s.graph_lock);
    for (int k = 0; k < kMixerStreams; ++k) {
        const std::size_t i = std::size_t(5 * k);
        s.layout.left[k] = t.as_float(i);
        s.layout.top[k] = t.as_float(i + 1);
        s.layout.right[k] = t.as_float(i + 2);
        s.layout.bottom[k] = t.as_float(i + 3);
        s.layout.alpha[k] = t.as_float(i + 4);
    }
    const float overlay_alpha = t.as_float(55);
    s.layout.overlay_alpha = overlay_alpha;
    {
        std::lock_guard overlay(s.overlay.lock);
        s.overlay.alpha = overlay_alpha;
        if (overlay_alpha != 0) s.overlay.on = true;
    }
    if (overlay_alpha != 0) apply_sensor_tokens(s, t);
    apply_layout(s);
    return LayoutOutcome::applied;
}

std::int32_t scale_picture_value(std::int32_t value) {
    const long double product = static_cast<long double>(static_cast<float>(value)) * 1.275f;
    const long double truncated = std::trunc(product);
    if (truncated >= static_cast<long double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (truncated <= static_cast<long double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(truncated);
}

void handle_camera_picture(MixerState& s, const TextTokens& t) {
    // Camera n's input is n - 1 taken as a byte (worked out in 64 bits: the lowest number has no predecessor).
    const std::uint8_t channel = static_cast<std::uint8_t>(std::int64_t{t.as_int(0)} - 1);
    std::lock_guard lock(s.graph_lock);
    IPictureAdjust* card = s.objects.card_adjust[channel <= 3 ? 0 : 1].get();
    if (!card) return;
    HRESULT (IPictureAdjust::*const set[4])(std::int32_t, std::uint8_t) = {
        &IPictureAdjust::SetAdjustment1, &IPictureAdjust::SetAdjustment2, &IPictureAdjust::SetAdjustment3,
        &IPictureAdjust::SetAdjustment4};
    for (std::size_t i = 1; i <= 4; ++i)
        s.last_result.store((card->*set[i - 1])(scale_picture_value(t.as_int(i)), channel),
                            std::memory_order_relaxed);
}

void handle_ip_camera(MixerState& s, const TextTokens& t) {
    std::lock_guard lock(s.graph_lock);
    for (int k = 0; k < 4; ++k) {
        std::printf("init %d\n", k + 1);
        std::fflush(stdout);
        const std::size_t i = std::size_t(6 * k);
        if (INetworkCamera* camera = s.objects.camera_control[k].get())
            s.last_result.store(camera->SetCamera(t.as_int(i), t.as_int(i + 1), t.as_int(i + 2), t.as_int(i + 3),
                                                  t.as_int(i + 4), t.as_int(i + 5)),
                                std::memory_order_relaxed);
    }
    std::printf("fin init\n");
    std::fflush(stdout);
}

std::optional<std::string> configuration_list(const std::string& configs_dir) {
    std::error_code ec;
    std::filesystem::directory_iterator it(std::filesystem::path(configs_dir), ec), end;
    if (ec) return std::nullopt;
    bool any = false;
    int count = 0;
    std::string names;
    // Bounded work however many files the folder holds: the walk ends when no further name could fit.
    std::size_t examined = 0;
    for (; it != end && ++examined <= kMaxEntriesExamined; it.increment(ec)) {
        if (ec) break;
        if (any && names.size() + kShortestEntry + 4 > kReplyTextLimit) break;
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".xml") != 0) continue;
        any = true;
        if (name == kLeftOutName) continue;
        const std::size_t length = std::to_string(count + 1).size() + 1 + names.size() + name.size() + 1;
        if (length > kReplyTextLimit) continue;
        names += name;
        names += ' ';
        ++count;
    }
    if (!any) return std::nullopt;
    return std::to_string(count) + " " + names;
}

std::optional<std::string> handle_configuration(MixerState& s, const TextTokens& t) {
    if (t.text() == "getconf") {
        auto text = configuration_list(s.configs_dir);
        if (!text) return std::nullopt;
        std::string reply(kDatagramSize, '\0');
        reply.replace(0, text->size(), *text);
        return reply;
    }
    if (t.token(0) == "setconf ") choose_configuration(s, t.word(1));
    return std::nullopt;
}

bool apply_pending_configuration(MixerState& s) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::path(s.configs_dir) / kPendingName, ec)) return true;
    std::lock_guard lock(s.graph_lock);
    if (FAILED(read_mixer_config(s.document, s.layout, s.configs_dir))) {
        release_graph(s);
        return false;
    }
    {
        std::lock_guard overlay(s.overlay.lock);
        s.overlay.alpha = s.layout.overlay_alpha;
    }
    apply_layout(s);
    return true;
}

} // namespace kavro::mixer
