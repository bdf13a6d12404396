#include "tools/kavro-topology-service/description.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kavro::topology {
namespace {

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool parse_byte(std::string_view text, std::uint8_t& out) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return false;
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || v > 255) return false;
    out = static_cast<std::uint8_t>(v);
    return true;
}

// "1", "1.5", "INFINITE" -> the label the daemon writes ("1.000", "1.500", "INFINITE").
bool parse_cost(std::string_view text, std::string& label) {
    if (text == "INFINITE") {
        label = "INFINITE";
        return true;
    }
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v) || v < 0 || v >= 1e6)
        return false;
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    label.assign(buf, r.ptr);
    return true;
}

// "a.b.c.d/len" (0..32) or "a.b.c.d/m.m.m.m"; normalised to the canonical address text.
bool parse_network(std::string_view text, std::string& out) {
    auto slash = text.find('/');
    if (slash == std::string_view::npos) return false;
    Address net{}, mask{};
    if (!parse_address(text.substr(0, slash), net)) return false;
    std::string_view rest = text.substr(slash + 1);
    if (rest.find('.') != std::string_view::npos) {
        if (!parse_address(rest, mask)) return false;
        out = format_address(net) + "/" + format_address(mask);
        return true;
    }
    std::uint8_t len = 0;
    if (!parse_byte(rest, len) || len > 32) return false;
    out = format_address(net) + "/" + std::to_string(len);
    return true;
}

std::uint32_t key(const Address& a) {
    return (std::uint32_t{a[0]} << 24) | (std::uint32_t{a[1]} << 16) | (std::uint32_t{a[2]} << 8) | a[3];
}

std::string quoted(const Address& a) { return "\"" + format_address(a) + "\""; }

struct Parser {
    Description d;
    std::vector<Address> mprs;
    bool have_self = false;
    std::string error;
    std::size_t line_no = 0;

    bool fail(const std::string& what) {
        error = line_no ? "line " + std::to_string(line_no) + ": " + what : what;
        return false;
    }

    bool address(std::string_view w, Address& a) {
        return parse_address(w, a) || fail("\"" + std::string(w) + "\" is not an IPv4 address");
    }

    bool entry(const std::vector<std::string_view>& w) {
        const std::string_view k = w[0];
        if (k == "self") {
            if (w.size() != 2) return fail("self takes one address");
            if (have_self) return fail("self is given twice");
            have_self = true;
            return address(w[1], d.self);
        }
        if (k == "link") {
            if (w.size() != 4 && w.size() != 5) return fail("link takes two addresses and one or two costs");
            Link l;
            if (!address(w[1], l.a) || !address(w[2], l.b)) return false;
            if (l.a == l.b) return fail("a link joins two different nodes");
            if (!parse_cost(w[3], l.cost_ab)) return fail("\"" + std::string(w[3]) + "\" is not a cost");
            l.cost_ba = l.cost_ab;
            if (w.size() == 5 && !parse_cost(w[4], l.cost_ba))
                return fail("\"" + std::string(w[4]) + "\" is not a cost");
            for (const Link& o : d.links)
                if ((o.a == l.a && o.b == l.b) || (o.a == l.b && o.b == l.a)) return fail("this link is given twice");
            d.links.push_back(l);
            return true;
        }
        if (k == "asym" || k == "mpr") {
            if (w.size() != 2) return fail(std::string(k) + " takes one address");
            Address a{};
            if (!address(w[1], a)) return false;
            if (k == "mpr") {
                mprs.push_back(a);
            } else {
                d.neighbours.push_back({a, "0.000", false, false});
            }
            return true;
        }
        if (k == "hna") {
            if (w.size() != 3) return fail("hna takes a gateway address and a network");
            Hna h;
            if (!address(w[1], h.gateway)) return false;
            if (!parse_network(w[2], h.network))
                return fail("\"" + std::string(w[2]) + "\" is not a network (a.b.c.d/len or a.b.c.d/mask)");
            d.hna.push_back(h);
            return true;
        }
        return fail("unknown entry \"" + std::string(k) + "\" (self, link, asym, mpr, hna)");
    }

    // Neighbour lines come in description order: links that touch self and asym entries interleaved as written,
    // so the neighbours are collected in a second pass once self is known.
    bool finish(std::string_view text) {
        if (!have_self) {
            line_no = 0;
            return fail("no \"self\" entry names the serving node");
        }
        std::vector<Neighbour> asym = std::move(d.neighbours);
        d.neighbours.clear();
        std::size_t next_link = 0, next_asym = 0;
        line_no = 0;
        for (std::size_t pos = 0; pos <= text.size();) {
            std::size_t end = std::min(text.find('\n', pos), text.size());
            auto w = words_of(text.substr(pos, std::min(text.find('#', pos), end) - pos));
            pos = end + 1;
            if (w.empty()) continue;
            if (w[0] == "link") {
                const Link& l = d.links[next_link++];
                if (l.a == d.self) d.neighbours.push_back({l.b, l.cost_ab, true, false});
                if (l.b == d.self) d.neighbours.push_back({l.a, l.cost_ba, true, false});
            } else if (w[0] == "asym") {
                d.neighbours.push_back(asym[next_asym++]);
            }
        }
        for (const Address& m : mprs) {
            auto it = std::find_if(d.neighbours.begin(), d.neighbours.end(),
                                   [&](const Neighbour& n) { return n.address == m; });
            if (it == d.neighbours.end() || !it->symmetric)
                return fail("mpr " + format_address(m) + " is not a symmetric neighbour of self");
            it->mpr = true;
        }
        return true;
    }
};

} // namespace

bool parse_address(std::string_view text, Address& out) {
    Address a{};
    for (int i = 0; i < 4; ++i) {
        auto dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || !parse_byte(text.substr(0, dot), a[i])) return false;
        text = i < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    out = a;
    return true;
}

std::string format_address(const Address& a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

bool parse_description(std::string_view text, Description& out, std::string& error) {
    if (text.size() > kMaxDescriptionBytes) {
        error = "the description is larger than " + std::to_string(kMaxDescriptionBytes) + " bytes";
        return false;
    }
    Parser p;
    std::size_t entries = 0;
    for (std::size_t pos = 0; pos <= text.size();) {
        std::size_t end = std::min(text.find('\n', pos), text.size());
        ++p.line_no;
        auto w = words_of(text.substr(pos, std::min(text.find('#', pos), end) - pos));
        pos = end + 1;
        if (w.empty()) continue;
        if (++entries > kMaxEntries) {
            error = "more than " + std::to_string(kMaxEntries) + " entries";
            return false;
        }
        if (!p.entry(w)) {
            error = p.error;
            return false;
        }
    }
    if (!p.finish(text)) {
        error = p.error;
        return false;
    }
    out = std::move(p.d);
    return true;
}

std::string render_dot(const Description& d) {
    std::string dot = "digraph topology\n{\n";
    for (const Neighbour& n : d.neighbours) {
        dot += quoted(d.self) + " -> " + quoted(n.address) + "[label=\"" + n.cost + "\", style=" +
               (n.symmetric ? "solid" : "dashed") + "];\n";
        if (n.mpr) dot += quoted(d.self) + "[shape=box];\n";
    }
    struct Edge {
        Address from, to;
        const std::string* cost;
    };
    std::vector<Edge> edges;
    for (const Link& l : d.links) {
        edges.push_back({l.a, l.b, &l.cost_ab});
        edges.push_back({l.b, l.a, &l.cost_ba});
    }
    std::stable_sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        return key(x.from) != key(y.from) ? key(x.from) < key(y.from) : key(x.to) < key(y.to);
    });
    for (const Edge& e : edges) dot += quoted(e.from) + " -> " + quoted(e.to) + "[label=\"" + *e.cost + "\"];\n";
    for (const Hna& h : d.hna) {
        dot += quoted(h.gateway) + " -> \"" + h.network + "\"[label=\"HNA\"];\n";
        dot += "\"" + h.network + "\"[shape=diamond];\n";
    }
    dot += "}\n\n";
    return dot;
}

} // namespace kavro::topology
