// Throughput of parse_string and to_xml_string on a configuration file (~3 KB) and on a ~5 MB document of the
// same shape, measured beside tinyxml2 and pugixml on the very same bytes.
//   build/bench/bin/minxl_bench --benchmark_counters_tabular=true
#include "minxl/minxl.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

std::string small_document() {
    std::ifstream in(std::string(KAVRO_SOURCE_DIR) + "/configs/mixer/kavro.xml", std::ios::binary);
    if (!in) throw std::runtime_error("configs/mixer/kavro.xml not found");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The small document's body repeated under one root until it reaches about 5 MB.
std::string large_document() {
    std::string small = small_document();
    std::size_t open = small.find("<mixer_configuration>");
    std::size_t close = small.rfind("</mixer_configuration>");
    std::string body = small.substr(open, close + std::strlen("</mixer_configuration>") - open);
    std::string out = "<?xml version=\"1.0\"?><archive>";
    while (out.size() < 5u * 1024 * 1024) out += body;
    return out + "</archive>";
}

const std::string& doc(int which) {
    static const std::string small = small_document();
    static const std::string large = large_document();
    return which == 0 ? small : large;
}

void label(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
    state.SetLabel(state.range(0) == 0 ? "config ~3KB" : "document ~5MB");
}

void MinXL_parse(benchmark::State& state) {
    const std::string& text = doc(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        MinXL::t_xml_node n("_EMPTY_", "");
        n.parse_string(text);
        benchmark::DoNotOptimize(n);
    }
    label(state, text.size());
}

void tinyxml2_parse(benchmark::State& state) {
    const std::string& text = doc(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        tinyxml2::XMLDocument d;
        if (d.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) state.SkipWithError("tinyxml2 parse");
        benchmark::DoNotOptimize(d);
    }
    label(state, text.size());
}

void pugixml_parse(benchmark::State& state) {
    const std::string& text = doc(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        pugi::xml_document d;
        if (!d.load_buffer(text.data(), text.size())) state.SkipWithError("pugixml parse");
        benchmark::DoNotOptimize(d);
    }
    label(state, text.size());
}

void MinXL_write(benchmark::State& state) {
    MinXL::t_xml_node n("_EMPTY_", "");
    n.parse_string(doc(static_cast<int>(state.range(0))));
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string out = n.to_xml_string();
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    label(state, bytes);
}

void tinyxml2_write(benchmark::State& state) {
    tinyxml2::XMLDocument d;
    const std::string& text = doc(static_cast<int>(state.range(0)));
    d.Parse(text.data(), text.size());
    std::size_t bytes = 0;
    for (auto _ : state) {
        tinyxml2::XMLPrinter printer(nullptr, /*compact=*/true);
        d.Print(&printer);
        bytes = static_cast<std::size_t>(printer.CStrSize());
        benchmark::DoNotOptimize(printer.CStr());
    }
    label(state, bytes);
}

struct string_writer : pugi::xml_writer {
    std::string out;
    void write(const void* data, std::size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void pugixml_write(benchmark::State& state) {
    pugi::xml_document d;
    const std::string& text = doc(static_cast<int>(state.range(0)));
    d.load_buffer(text.data(), text.size());
    std::size_t bytes = 0;
    for (auto _ : state) {
        string_writer w;
        d.save(w, "", pugi::format_raw);
        bytes = w.out.size();
        benchmark::DoNotOptimize(w.out);
    }
    label(state, bytes);
}

} // namespace

BENCHMARK(MinXL_parse)->Arg(0)->Arg(1);
BENCHMARK(tinyxml2_parse)->Arg(0)->Arg(1);
BENCHMARK(pugixml_parse)->Arg(0)->Arg(1);
BENCHMARK(MinXL_write)->Arg(0)->Arg(1);
BENCHMARK(tinyxml2_write)->Arg(0)->Arg(1);
BENCHMARK(pugixml_write)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
