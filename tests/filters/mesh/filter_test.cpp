// The "Mesh" filter: registration and creation, IMesh, quality messages, the media type, the installation
// folder, and frames through a running graph from the default picture and from topologies served on loopback.
#include "filters/mesh/mesh.h"
#include "platform/dshow/base/property_page.h"
#include "platform/graphviz/component.h"
#include "tests/filters/mesh/mesh_test_support.h"

#include <dlfcn.h>
#include <sys/wait.h>

#include <filesystem>

namespace {

using namespace mesh;
using namespace mesh::test;
namespace reg = kavro::registry;

constexpr CLSID kRecordingLayout = make_guid("3C0F9A51-7E42-4B8D-9A11-5D2E6F7A8B90");

// A layout component that forwards to WinGraphviz and keeps the texts it was given.
std::mutex g_textsLock;
std::vector<std::string> g_texts;

struct RecordingLayout final : IGraphLayout {
    std::atomic<ULONG> refs{1};
    ComPtr<IGraphLayout> real;
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IGraphLayout) return E_NOINTERFACE;
        AddRef();
        *out = static_cast<IGraphLayout*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        const ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT ToJPEG(const wchar_t* dot, ILayoutPicture** picture) override {
        {
            std::lock_guard g(g_textsLock);
            g_texts.push_back(kavro::graphviz::to_utf8(dot));
        }
        return real->ToJPEG(dot, picture);
    }
};

HRESULT create_recording(IUnknown*, REFIID iid, void** out) {
    auto* r = new RecordingLayout;
    HRESULT hr = CoCreateInstance(CLSID_WinGraphviz, nullptr, CLSCTX_ALL, IID_IGraphLayout, r->real.put_void());
    if (SUCCEEDED(hr)) hr = r->QueryInterface(iid, out);
    r->Release();
    return hr;
}

std::string last_text() {
    std::lock_guard g(g_textsLock);
    return g_texts.empty() ? std::string() : g_texts.back();
}

// A 768 x 576 picture that no drawing looks like.
std::string default_ppm(int w = 768, int h = 576) {
    std::string pixels(std::size_t(w) * h * 3, '\0');
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = char(i % 7 * 20);
    return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + pixels;
}

class MeshFilter : public kavro::test::TempRegistry {
protected:
    void SetUp() override {
        TempRegistry::SetUp();
        std::filesystem::create_directories(dir + "/Images");
        write(dir + "/Images/mesh.ppm", default_ppm());
        reg::set_string("SOFTWARE\\KAVRO", "Installation", dir + "/");
        options.timing.fetch = FetchTiming{1000ms, 500ms, 1000ms, 300ms};
        options.print_topology = false;
        std::lock_guard g(g_textsLock);
        g_texts.clear();
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::vector<std::uint8_t> default_frame() {
        const std::string ppm = default_ppm();
        return std::vector<std::uint8_t>(ppm.end() - std::ptrdiff_t(kFrameBytes), ppm.end());
    }
    void use_recording_layout() {
        ASSERT_EQ(register_library(WINGRAPHVIZ_DLL), S_OK);
        kavro::com::register_builtin_class(kRecordingLayout, create_recording);
        options.layout = kRecordingLayout;
    }
    MeshOptions options;
    MessageBoxes boxes;
};

// --- registration and creation ------------------------------------------------------------------------------

TEST_F(MeshFilter, RegisteredWithRegsvr32AndCreatedByClsid) {
    const std::string cmd = std::string(REGSVR32) + " /s " + MESH_AX;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string server = "SOFTWARE\\Classes\\CLSID\\{884A06A2-0C66-4A8D-9718-2CB48B5CC929}";
    const std::string filter =
        "SOFTWARE\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
        "{884A06A2-0C66-4A8D-9718-2CB48B5CC929}";
    EXPECT_EQ(reg::get_string(server, ""), "Mesh");
    EXPECT_EQ(reg::get_string(filter, "FriendlyName"), "Mesh");
    EXPECT_EQ(reg::get_number(filter, "Merit"), 0x00200000u);
    EXPECT_EQ(reg::subkeys(filter + "\\Pins"), std::vector<std::string>{"Output"});
    // The property page is a class of the same library, registered as a COM server only.
    EXPECT_EQ(reg::get_string("SOFTWARE\\Classes\\CLSID\\{ECDEC30B-2659-4630-9103-116D9796834B}", ""), "MeshProp");
    ComPtr<IUnknown> page;
    EXPECT_EQ(CoCreateInstance(CLSID_MeshProp, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.put_void()), S_OK);

    ComPtr<IBaseFilter> f;
    ASSERT_EQ(CoCreateInstance(CLSID_Mesh, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.put_void()), S_OK);
    ComPtr<IMesh> mesh;
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(f.as(IID_IMesh, mesh), S_OK);
    ASSERT_EQ(f.as(IID_ISpecifyPropertyPages, pages), S_OK);
    CAUUID list{};
    EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_MeshProp);
    CoTaskMemFree(list.pElems);
    ComPtr<IPin> pin;
    EXPECT_EQ(f->FindPin("Output", pin.put()), S_OK);

    void* lib = kavro::com::load_library(MESH_AX);
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(dlsym(lib, "DllGetClassObject"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN5CMesh14CreateInstanceEP8IUnknownPi"), nullptr); // only the Dll* exports
}

TEST_F(MeshFilter, IMeshKeepsTheServerAndTheNodeNames) {
    Filter f(options);
    BYTE a = 9, b = 9, c = 9, d = 9;
    std::int32_t port = 9;
    ASSERT_EQ(f.control->GetServer(&a, &b, &c, &d, &port), S_OK);
    EXPECT_EQ((std::vector<int>{a, b, c, d, port}), (std::vector<int>{127, 0, 0, 1, 2004}));
    EXPECT_EQ(f.control->SetServer(10, 1, 2, 3, 2010), S_OK);
    a = b = c = d = 0, port = 0;
    EXPECT_EQ(f.control->GetServer(nullptr, &b, &c, &d, &port), E_POINTER);
    EXPECT_EQ(f.control->GetServer(&a, &b, &c, &d, nullptr), E_POINTER);
    EXPECT_EQ((std::vector<int>{a, b, c, d, port}), (std::vector<int>{0, 0, 0, 0, 0})); // nothing written
    ASSERT_EQ(f.control->GetServer(&a, &b, &c, &d, &port), S_OK);
    EXPECT_EQ((std::vector<int>{a, b, c, d, port}), (std::vector<int>{10, 1, 2, 3, 2010}));

    using Names = std::vector<std::pair<std::string, std::string>>;
    f.control->SetNodeName("10.0.0.1", "R1");
    f.control->SetNodeName("10.0.0.2", "R1"); // same name: the address changes
    EXPECT_EQ(f.mesh->Settings().snapshot().names, (Names{{"10.0.0.2", "R1"}}));
    f.control->SetNodeName("10.0.0.2", "R3"); // same address: the name changes
    EXPECT_EQ(f.mesh->Settings().snapshot().names, (Names{{"10.0.0.2", "R3"}}));
    f.control->SetNodeName("10.0.0.5", "BASE");
    f.control->SetNodeName(nullptr, nullptr);
    EXPECT_EQ(f.mesh->Settings().snapshot().names, (Names{{"10.0.0.2", "R3"}, {"10.0.0.5", "BASE"}, {"", ""}}));
}

TEST_F(MeshFilter, QualityMessagesChangeTheFrameInterval) {
    Filter f(options);
    CMeshStream* pin = f.mesh->Stream();
    EXPECT_EQ(pin->FrameInterval(), 250);
    pin->Notify(nullptr, Quality{Famine, 500, 0, 0});
    EXPECT_EQ(pin->FrameInterval(), 500);
    pin->Notify(nullptr, Quality{Famine, 0, 0, 0});
    EXPECT_EQ(pin->FrameInterval(), 1000);
    pin->Notify(nullptr, Quality{Flood, 100000, 0, 0});
    EXPECT_EQ(pin->FrameInterval(), 10);
    pin->Notify(nullptr, Quality{Famine, 1, 0, 0}); // 10 x 1000: clamped to 1000
    EXPECT_EQ(pin->FrameInterval(), 1000);
    pin->Notify(nullptr, Quality{Famine, 1000, 12345, 0});
    EXPECT_EQ(pin->NextSampleTime(), 12345);
    pin->Notify(nullptr, Quality{Famine, 1000, -500, 0}); // early: no move
    EXPECT_EQ(pin->NextSampleTime(), 12345);
    pin->OnThreadCreate();
    EXPECT_EQ(pin->FrameInterval(), 250);
    EXPECT_EQ(pin->NextSampleTime(), 0);
}

TEST_F(MeshFilter, OffersAndAcceptsOnlyTopDownRgb24) {
    Filter f(options);
    CMeshStream* pin = f.mesh->Stream();
    CMediaType mt;
    EXPECT_EQ(pin->GetMediaType(-1, &mt), E_INVALIDARG);
    EXPECT_EQ(pin->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(pin->GetMediaType(0, nullptr), E_POINTER);
    ASSERT_EQ(pin->GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(*mt.Type(), MEDIATYPE_Video);
    EXPECT_EQ(*mt.Subtype(), MEDIASUBTYPE_RGB24);
    EXPECT_EQ(*mt.FormatType(), FORMAT_VideoInfo);
    EXPECT_TRUE(mt.IsFixedSize());
    EXPECT_FALSE(mt.IsTemporalCompressed());
    EXPECT_EQ(mt.GetSampleSize(), 1327104u);
    ASSERT_EQ(mt.FormatLength(), sizeof(VIDEOINFO));
    const auto* vi = reinterpret_cast<const VIDEOINFO*>(mt.Format());
    EXPECT_EQ(vi->bmiHeader.biWidth, 768);
    EXPECT_EQ(vi->bmiHeader.biHeight, -576);
    EXPECT_EQ(vi->bmiHeader.biBitCount, 24);
    EXPECT_EQ(vi->bmiHeader.biSizeImage, 1327104u);
    EXPECT_EQ(vi->AvgTimePerFrame, 0);

    EXPECT_EQ(pin->CheckMediaType(&mt), S_OK);
    EXPECT_EQ(pin->CheckMediaType(nullptr), E_POINTER);
    CMediaType other = mt;
    other.SetSubtype(&MEDIASUBTYPE_RGB565);
    EXPECT_EQ(pin->CheckMediaType(&other), E_INVALIDARG);
    other = mt;
    other.SetVariableSize();
    EXPECT_EQ(pin->CheckMediaType(&other), E_INVALIDARG);
    other = mt;
    other.ResetFormatBuffer();
    EXPECT_EQ(pin->CheckMediaType(&other), E_INVALIDARG);
    other = mt;
    reinterpret_cast<VIDEOINFO*>(other.Format())->bmiHeader.biWidth = 320; // another size is accepted
    EXPECT_EQ(pin->CheckMediaType(&other), S_OK);
}

TEST_F(MeshFilter, AMissingInstallationIsReportedInFrenchAndTheFilterStillWorks) {
    const std::string msg = "Erreur: KAVRO n'est pas correctement installé";
    reg::delete_key("SOFTWARE\\KAVRO");
    { Filter f(options); }
    EXPECT_EQ(boxes.seen(), (std::vector<std::string>{msg, msg, "Erreur: Fichier introuvable"}));

    reg::create_key("SOFTWARE\\KAVRO");
    reg::set_string("SOFTWARE\\KAVRO", "Installation", "/" + std::string(79, 'x'));
    {
        Filter f(options);
        EXPECT_EQ(f.mesh->InstallationFolder(), "");
        EXPECT_EQ(f.mesh->PicturePath(), "Images/tmp.jpg");
    }
    EXPECT_EQ(boxes.seen().size(), 5u);
    EXPECT_EQ(boxes.seen()[3], msg);

    reg::set_string("SOFTWARE\\KAVRO", "Installation", dir); // no separator at the end
    Filter f(options);
    EXPECT_EQ(f.mesh->PicturePath(), dir + "/Images/tmp.jpg");
    EXPECT_EQ(boxes.seen().size(), 5u);
}

// --- frames -------------------------------------------------------------------------------------------------

TEST_F(MeshFilter, WithoutServiceEveryFrameIsTheDefaultPictureFourASecond) {
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, free_tcp_port());
    Graph g(f.filter.get());
    ASSERT_EQ(g.control->Run(), S_OK);
    std::this_thread::sleep_for(1300ms);
    g.control->Stop();
    const auto frame = g.log.frame();
    ASSERT_EQ(frame.size(), kFrameBytes);
    EXPECT_TRUE(frame == default_frame());
    std::lock_guard l(g.log.lock);
    ASSERT_GE(g.log.times.size(), 3u);
    EXPECT_LE(g.log.times.size(), 8u); // paced by the renderer: about four a second
    for (std::size_t i = 0; i < g.log.times.size(); ++i) {
        EXPECT_EQ(g.log.times[i].first, REFERENCE_TIME(i) * 2500000);
        EXPECT_EQ(g.log.times[i].second, REFERENCE_TIME(i + 1) * 2500000);
    }
    EXPECT_GT(f.mesh->Stream()->Topology().failed(), 0u);
    EXPECT_EQ(f.mesh->Stream()->Topology().drawn(), 0u);
}

TEST_F(MeshFilter, ASmallerOrMissingDefaultPictureStaysInsideItsBuffer) {
    write(dir + "/Images/mesh.ppm", "P6\n2 2\n255\n" + std::string(12, '\0'));
    {
        Filter f(options);
        f.control->SetServer(127, 0, 0, 1, free_tcp_port());
        Graph g(f.filter.get());
        ASSERT_EQ(g.control->Run(), S_OK);
        ASSERT_TRUE(g.wait_frame([](auto&) { return true; }, 2s));
        const auto frame = g.log.frame();
        EXPECT_EQ(frame[(287 * 768 + 383) * 3], 0); // centred, on white
        EXPECT_EQ(frame[(288 * 768 + 384) * 3 + 2], 0);
        EXPECT_EQ(frame[(286 * 768 + 383) * 3], 255);
        EXPECT_EQ(frame[0], 255);
    }
    std::filesystem::remove(dir + "/Images/mesh.ppm");
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, free_tcp_port());
    Graph g(f.filter.get());
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_TRUE(g.wait_frame([](auto& fr) { return fr == std::vector<std::uint8_t>(kFrameBytes, 255); }, 2s));
}

class Replay : public MeshFilter, public ::testing::WithParamInterface<const char*> {};

TEST_P(Replay, EachCaptureIsDrawnWithNamesAndHna) {
    use_recording_layout();
    const std::string text = capture(GetParam());
    ASSERT_FALSE(text.empty());
    // The real service's stream: every snapshot at once, the connection kept open.
    TopologyServer server([&](int) { return text; }, true);
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, server.port());
    f.control->SetNodeName("10.99.12.1", "R1");
    f.control->SetNodeName("10.99.12.2", "BASE");
    f.control->SetNodeName("10.99.23.3", "R3");
    Graph g(f.filter.get());
    const auto initial = default_frame();
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_TRUE(g.wait_frame([&](auto& fr) { return fr != initial; }, 2s * kSlow)) << "still the default picture";
    const std::string drawn = last_text();
    EXPECT_NE(drawn.find("\"R1\" -> \"BASE\""), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("\"R3\" -> \"HNA\"[label=\"HNA\"]"), std::string::npos) << drawn;
    EXPECT_EQ(drawn.find("10.99.12.1"), std::string::npos);
    EXPECT_EQ(drawn.find("0.0.0.0/0"), std::string::npos);
    EXPECT_EQ(drawn.find("192.168.0.99"), std::string::npos);
    EXPECT_EQ(drawn.find("digraph", 1), std::string::npos); // one graph
    EXPECT_EQ(drawn.back(), '}');
    // The drawing is dark strokes on white: the frame is mostly white with some dark pixels.
    const auto frame = g.log.frame();
    std::size_t white = 0, dark = 0;
    for (std::size_t i = 0; i < frame.size(); i += 3) {
        white += frame[i] == 255;
        dark += frame[i] < 100;
    }
    EXPECT_GT(white, frame.size() / 3 / 2);
    EXPECT_GT(dark, 500u);
}

INSTANTIATE_TEST_SUITE_P(Captures, Replay,
                         ::testing::Values("ns1-leaf-single-snapshot.dot", "ns2-hub-single-snapshot.dot",
                                           "ns2-hub-asym-neighbor-snapshot.dot", "ns2-hub-stream-linkflap-32s.dot"));

TEST_F(MeshFilter, TheDefaultPictureReturnsWhenTheServiceGoesAway) {
    use_recording_layout();
    const auto initial = default_frame();
    const std::uint16_t port = free_tcp_port();
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, port);
    Graph g(f.filter.get());
    ASSERT_EQ(g.control->Run(), S_OK);
    {
        TopologyServer server([&](int) { return capture("ns1-leaf-single-snapshot.dot"); });
        f.control->SetServer(127, 0, 0, 1, server.port());
        EXPECT_TRUE(g.wait_frame([&](auto& fr) { return fr != initial; }, 4s * kSlow));
    }
    EXPECT_TRUE(g.wait_frame([&](auto& fr) { return fr == initial; }, 4s * kSlow));
}

// A mesh whose text asks for a drawing several times larger than the decode buffer (here a 20-node mesh,
// each node linked both ways to its next two neighbours, at its natural size) is decoded at a fraction of its
// size and reduced into the frame, never left undrawn.
TEST_F(MeshFilter, AMeshDrawnLargerThanTheDecodeBufferIsReducedIntoTheFrame) {
    use_recording_layout();
    auto ip = [](int i) { return "\"10.99.0." + std::to_string(i % 20 + 1) + "\""; };
    std::string text = "digraph topology\n{\nsize=\"40,30\";\n";
    for (int i = 0; i < 20; ++i)
        for (int k = 1; k <= 2; ++k)
            text += ip(i) + " -> " + ip(i + k) + "[label=\"1.000\"];\n" + ip(i + k) + " -> " + ip(i) +
                    "[label=\"1.234\"];\n";
    text += "}\n\n";
    TopologyServer server([&](int) { return text; }, true);
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, server.port());
    Graph g(f.filter.get());
    const auto initial = default_frame();
    ASSERT_EQ(g.control->Run(), S_OK);
    EXPECT_TRUE(g.wait_frame([&](auto& fr) { return fr != initial; }, 4s * kSlow)) << "still the default picture";
    const auto frame = g.log.frame();
    std::size_t dark = 0;
    for (std::size_t i = 0; i < frame.size(); i += 3) dark += frame[i] < 200;
    EXPECT_GT(dark, 2000u);
}

TEST_F(MeshFilter, NoLayoutComponentOrAnAnswerTooShortIsAFailedCycle) {
    // WinGraphviz is not registered here.
    const std::string hub = capture("ns2-hub-single-snapshot.dot");
    TopologyServer server([&](int) { return hub; });
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, server.port());
    mesh::TopologyThread& topology = f.mesh->Stream()->Topology();
    EXPECT_EQ(topology.cycle(), CycleResult::NoLayout);
    EXPECT_FALSE(f.mesh->Stream()->Frame().picture_ready.load());

    use_recording_layout();
    Filter drawing(options);
    TopologyServer nineteen([&](int) { return std::string("digraph{a->b;c->d;}"); }); // 19 bytes
    TopologyServer twenty([&](int) { return std::string("digraph{a->b;c->dd;}"); });  // 20 bytes
    drawing.control->SetServer(127, 0, 0, 1, nineteen.port());
    EXPECT_EQ(drawing.mesh->Stream()->Topology().cycle(), CycleResult::EmptyAnswer);
    drawing.control->SetServer(127, 0, 0, 1, twenty.port());
    EXPECT_EQ(drawing.mesh->Stream()->Topology().cycle(), CycleResult::Drawn);
    EXPECT_TRUE(drawing.mesh->Stream()->Frame().picture_ready.load());
    TopologyServer garbage([&](int) { return std::string("this is not a graph at all, {{{"); });
    drawing.control->SetServer(127, 0, 0, 1, garbage.port());
    EXPECT_EQ(drawing.mesh->Stream()->Topology().cycle(), CycleResult::NotDrawn);
    EXPECT_FALSE(drawing.mesh->Stream()->Frame().picture_ready.load());
}

TEST_F(MeshFilter, QuickStopsAndStartsNeverLeaveTwoTopologyThreads) {
    Filter f(options);
    f.control->SetServer(127, 0, 0, 1, free_tcp_port());
    Graph g(f.filter.get());
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(g.control->Run(), S_OK);
        g.control->Stop();
        ASSERT_EQ(g.control->Pause(), S_OK);
    }
    ASSERT_EQ(g.control->Run(), S_OK);
    std::this_thread::sleep_for(300ms);
    mesh::TopologyThread& topology = f.mesh->Stream()->Topology();
    EXPECT_EQ(topology.most_threads_at_once(), 1);
    EXPECT_TRUE(topology.running());
    g.control->Stop();
}

TEST_F(MeshFilter, ReleasedWhileDrawingTheThreadEndsFirst) {
    use_recording_layout();
    const std::string hub = capture("ns2-hub-single-snapshot.dot");
    TopologyServer server([&](int) { return hub; });
    auto f = std::make_unique<Filter>(options);
    f->control->SetServer(127, 0, 0, 1, server.port());
    auto g = std::make_unique<Graph>(f->filter.get());
    ASSERT_EQ(g->control->Run(), S_OK);
    std::this_thread::sleep_for(700ms); // the thread is receiving or drawing now
    const auto t0 = std::chrono::steady_clock::now();
    g.reset();
    f.reset(); // the pin's destructor waits for the thread; the sanitizers see any use after release
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 4s * kSlow);
    EXPECT_GE(server.connections(), 1);
}

} // namespace
