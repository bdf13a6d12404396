// The filter graph: filters and names, connections, states, renderer pacing, StopWhenReady, changing
// one stream while another runs, and intelligent connection through a registered filter.
#include "platform/registry/registry.h"
#include "tests/platform/dshow/test_filters.h"

using namespace kavro::test;

namespace {

class Graph : public TempRegistry {
protected:
    ComPtr<IGraphBuilder> graph = create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IMediaControl> control = control_of(graph);

    void connect(IBaseFilter* from, IBaseFilter* to) {
        ASSERT_EQ(graph->Connect(find_pin(from, PINDIR_OUTPUT).get(), find_pin(to, PINDIR_INPUT).get()), S_OK);
    }
};

TEST_F(Graph, FiltersHaveUniqueNamesAndLeaveDisconnected) {
    auto a = TestSource::make(nullptr);
    auto b = TestRenderer::make(nullptr);
    auto c = TestRenderer::make(nullptr);
    EXPECT_EQ(graph->AddFilter(nullptr, "x"), E_POINTER);
    ASSERT_EQ(graph->AddFilter(a.get(), "VMR9"), S_OK);
    EXPECT_EQ(graph->AddFilter(b.get(), "VMR9"), VFW_S_DUPLICATE_NAME);
    EXPECT_TRUE(FAILED(graph->AddFilter(a.get(), "again")));
    ASSERT_EQ(graph->AddFilter(c.get(), "Renderer"), S_OK);

    FILTER_INFO info{};
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, "VMR9 0001");
    ASSERT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName("VMR9 0001", found.put()), S_OK);
    EXPECT_EQ(found, b);
    EXPECT_EQ(graph->FindFilterByName("nothing", found.put()), VFW_E_NOT_FOUND);

    connect(a.get(), b.get());
    ComPtr<IPin> out = find_pin(a.get(), PINDIR_OUTPUT), in = find_pin(b.get(), PINDIR_INPUT), other;
    ASSERT_EQ(out->ConnectedTo(other.put()), S_OK);
    EXPECT_EQ(other, in);
    // A connected pin does not connect again.
    EXPECT_EQ(graph->Connect(out.get(), find_pin(c.get(), PINDIR_INPUT).get()), VFW_E_ALREADY_CONNECTED);

    ASSERT_EQ(graph->RemoveFilter(b.get()), S_OK);
    EXPECT_EQ(out->ConnectedTo(other.put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(in->ConnectedTo(other.put()), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(graph->RemoveFilter(b.get()), VFW_E_NOT_FOUND);

    ComPtr<IEnumFilters> e;
    ASSERT_EQ(graph->EnumFilters(e.put()), S_OK);
    IBaseFilter* list[3] = {};
    ULONG n = 0;
    EXPECT_EQ(e->Next(3, list, &n), S_FALSE);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(list[0], a.get());
    EXPECT_EQ(list[1], c.get());
    for (ULONG i = 0; i < n; ++i) list[i]->Release();

    // Skip counts what it could skip: exactly to the end is a full skip, past it is not; a clone keeps its place.
    ASSERT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(1), S_OK);
    ComPtr<IEnumFilters> copy;
    ASSERT_EQ(e->Clone(copy.put()), S_OK);
    EXPECT_EQ(e->Skip(1), S_OK);
    EXPECT_EQ(e->Skip(1), S_FALSE);
    ASSERT_EQ(copy->Next(1, list, nullptr), S_OK);
    EXPECT_EQ(list[0], c.get());
    list[0]->Release();
}

TEST_F(Graph, TypeNegotiationRefusesWhatNeitherSideTakes) {
    auto src = TestSource::make(nullptr, MEDIASUBTYPE_RGB24);
    auto only32 = TestRenderer::make(nullptr, MEDIASUBTYPE_RGB32);
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(only32.get(), "dst"), S_OK);
    ComPtr<IPin> out = find_pin(src.get(), PINDIR_OUTPUT), in = find_pin(only32.get(), PINDIR_INPUT), other;
    EXPECT_TRUE(FAILED(graph->Connect(out.get(), in.get())));
    EXPECT_EQ(out->ConnectedTo(other.put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(in->ConnectedTo(other.put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(graph->Connect(in.get(), out.get()), VFW_E_INVALID_DIRECTION);
    // An explicit type the output does not offer.
    CMediaType rgb32 = video_type(MEDIASUBTYPE_RGB32, 64, 48);
    EXPECT_TRUE(FAILED(graph->ConnectDirect(out.get(), in.get(), &rgb32)));
}

TEST_F(Graph, UnstampedFramesArriveAtTheDisplayTick) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s);
    auto ren = TestRenderer::make(&r);
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    connect(src.get(), ren.get());
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(500);
    ASSERT_EQ(control->Stop(), S_OK);
    const int at50 = r->frames.load();
    EXPECT_GE(at50, 18); // 25 expected
    EXPECT_LE(at50, 30);
    EXPECT_LE(s->filled.load(), at50 + 2); // the source waits for its single buffer
    EXPECT_EQ(r->last_byte.load(), 0x5A);

    r->frames = 0;
    r->InputPin()->SetDisplayPeriod(UNITS / 200);
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(500);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_GE(r->frames.load(), 2 * at50); // 100 expected
}

TEST_F(Graph, ASourceWhoseWorkerCannotStartFailsThePauseAndStartsLater) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s);
    auto ren = TestRenderer::make(&r);
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    connect(src.get(), ren.get());
    s->thread_start = E_OUTOFMEMORY;
    EXPECT_EQ(control->Pause(), E_OUTOFMEMORY);
    EXPECT_FALSE(s->stream()->ThreadExists()); // the ended worker is joined, not left to a later stop
    s->thread_start = S_OK;
    ASSERT_EQ(control->Run(), S_OK);
    for (int i = 0; i < 200 && r->frames.load() == 0; ++i) sleep_ms(10);
    EXPECT_GT(r->frames.load(), 0);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(Graph, StampedFramesAreHeldUntilTheirTime) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s);
    auto ren = TestRenderer::make(&r);
    s->stamps = Stamps::Interval;
    s->interval = UNITS / 10; // 100 ms
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    connect(src.get(), ren.get());
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(550);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_GE(r->timed.load(), 5); // 0, 100 ... 500 ms
    EXPECT_LE(r->timed.load(), 7);
    EXPECT_LE(r->max_early.load(), UNITS / 1000); // none shown before its time
    for (const Quality& q : s->qualities()) EXPECT_LT(q.Late, UNITS / 10) << "at " << q.TimeStamp;
}

TEST_F(Graph, StreamTimeGoesOnAfterAPause) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s);
    auto ren = TestRenderer::make(&r);
    s->stamps = Stamps::Interval;
    s->interval = UNITS / 10;
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    connect(src.get(), ren.get());
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(250); // frames at 0, 100, 200 ms
    ASSERT_EQ(control->Pause(), S_OK);
    const int before = r->timed.load();
    sleep_ms(400);
    EXPECT_EQ(r->timed.load(), before);
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(250); // 300 and 400 ms of stream time: neither late nor far ahead
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_GE(r->timed.load() - before, 2);
    EXPECT_LE(r->timed.load() - before, 3);
    // Only scheduling delays may make a frame late, never a restarted or stopped stream clock.
    for (const Quality& q : s->qualities()) EXPECT_LT(q.Late, UNITS / 10) << "at " << q.TimeStamp;
}

TEST_F(Graph, LateFramesSendQualityMessagesUpstream) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s);
    auto ren = TestRenderer::make(&r);
    s->stamps = Stamps::Stale; // every frame claims stream time 0
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    connect(src.get(), ren.get());
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(300);
    ASSERT_EQ(control->Stop(), S_OK);
    const auto q = s->qualities();
    ASSERT_FALSE(q.empty());
    EXPECT_GT(r->frames.load(), 100); // late frames are shown at once
    EXPECT_EQ(int(q.size()), r->InputPin()->QualityMessages());
    EXPECT_GT(q.back().Late, UNITS / 10);
    EXPECT_LT(q.back().Proportion, 1000);
    EXPECT_GT(q.back().Proportion, 0);
    EXPECT_EQ(q.back().TimeStamp, 0);
}

TEST_F(Graph, PausedRendererHoldsOneFrameAndStopWhenReadyStops) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s);
    auto ren = TestRenderer::make(&r);
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    connect(src.get(), ren.get());

    OAFilterState st;
    EXPECT_EQ(control->StopWhenReady(), S_OK); // stopped already: nothing to do
    ASSERT_EQ(control->Pause(), S_OK);
    EXPECT_EQ(control->GetState(1000, &st), S_OK);
    EXPECT_EQ(st, State_Paused);
    sleep_ms(100);
    EXPECT_EQ(r->frames.load(), 0);
    EXPECT_EQ(s->filled.load(), 1); // held in the renderer

    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(200);
    EXPECT_GT(r->frames.load(), 3);
    ASSERT_EQ(control->StopWhenReady(), S_OK);
    EXPECT_EQ(control->GetState(0, &st), S_OK);
    EXPECT_EQ(st, State_Stopped);
    EXPECT_FALSE(s->stream()->ThreadExists());
    const int frames = r->frames.load();
    sleep_ms(100);
    EXPECT_EQ(r->frames.load(), frames);
    FILTER_STATE fs;
    ASSERT_EQ(ren->GetState(0, &fs), S_OK);
    EXPECT_EQ(fs, State_Stopped);
}

TEST_F(Graph, OneStreamChangesWhileAnotherKeepsRunning) {
    TestSource *sa, *sb;
    TestRenderer *ra, *rb;
    auto a = TestSource::make(&sa);
    auto b = TestSource::make(&sb);
    auto ta = TestRenderer::make(&ra);
    auto tb = TestRenderer::make(&rb);
    sb->fill = 0x11;
    for (auto& [f, n] : {std::pair{a, "a"}, {b, "b"}, {ta, "ta"}, {tb, "tb"}}) ASSERT_EQ(graph->AddFilter(f.get(), n), S_OK);
    connect(a.get(), ta.get());
    connect(b.get(), tb.get());
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(150);
    EXPECT_GT(ra->frames.load(), 2);
    EXPECT_GT(rb->frames.load(), 2);

    // Pins of running filters cannot be changed.
    ComPtr<IPin> bout = find_pin(b.get(), PINDIR_OUTPUT), bin = find_pin(tb.get(), PINDIR_INPUT);
    EXPECT_EQ(bout->Disconnect(), VFW_E_NOT_STOPPED);

    // Stop, take stream b out, run again: a goes on, b is silent.
    ASSERT_EQ(control->Stop(), S_OK);
    ASSERT_EQ(graph->Disconnect(bout.get()), S_OK);
    ASSERT_EQ(graph->Disconnect(bin.get()), S_OK);
    EXPECT_EQ(bout->Disconnect(), S_FALSE);
    const int a0 = ra->frames.load(), b0 = rb->frames.load();
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(400);
    EXPECT_GT(ra->frames.load(), a0 + 4);
    EXPECT_EQ(rb->frames.load(), b0);
    EXPECT_FALSE(sb->stream()->ThreadExists());

    // And back in.
    ASSERT_EQ(control->Stop(), S_OK);
    connect(b.get(), tb.get());
    const int a1 = ra->frames.load(), b1 = rb->frames.load();
    ASSERT_EQ(control->Run(), S_OK);
    sleep_ms(400);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_GT(ra->frames.load(), a1 + 4);
    EXPECT_GT(rb->frames.load(), b1 + 4);
    EXPECT_EQ(rb->last_byte.load(), 0x11);
}

// Registers the converter as a class and as a filter of the given merit.
void register_converter(DWORD merit) {
    kavro::com::register_builtin_class(Converter::kClsid, Converter::create);
    const std::string key = "SOFTWARE\\Classes\\CLSID\\" + guid_to_string(CLSID_LegacyAmFilterCategory) +
                            "\\Instance\\" + guid_to_string(Converter::kClsid);
    kavro::registry::set_string(key, "FriendlyName", "RGB Converter");
    kavro::registry::set_string(key, "CLSID", guid_to_string(Converter::kClsid));
    kavro::registry::set_number(key, "Merit", merit);
}

TEST_F(Graph, ConnectInsertsARegisteredIntermediateFilter) {
    TestSource* s;
    TestRenderer* r;
    auto src = TestSource::make(&s, MEDIASUBTYPE_RGB24);
    auto ren = TestRenderer::make(&r, MEDIASUBTYPE_RGB32);
    ASSERT_EQ(graph->AddFilter(src.get(), "src"), S_OK);
    ASSERT_EQ(graph->AddFilter(ren.get(), "ren"), S_OK);
    ComPtr<IPin> out = find_pin(src.get(), PINDIR_OUTPUT), in = find_pin(ren.get(), PINDIR_INPUT);

    // Registered but not for graph building: no connection.
    register_converter(MERIT_DO_NOT_USE);
    EXPECT_TRUE(FAILED(graph->Connect(out.get(), in.get())));
    ComPtr<IBaseFilter> conv;
    EXPECT_EQ(graph->FindFilterByName("RGB Converter", conv.put()), VFW_E_NOT_FOUND);

    register_converter(MERIT_NORMAL);
    ASSERT_EQ(graph->Connect(out.get(), in.get()), S_OK);
    ASSERT_EQ(graph->FindFilterByName("RGB Converter", conv.put()), S_OK);
    s->fill = 0x33;
    ASSERT_EQ(control->Run(), S_OK);
    for (int i = 0; i < 500 && r->frames.load() <= 2; ++i) sleep_ms(10);  // a loaded machine may be slow
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_GT(r->frames.load(), 2);
    EXPECT_EQ(r->last_byte.load(), 0x33);
    kavro::com::unregister_builtin_class(Converter::kClsid);
}

} // namespace
