// The status poll against a sensor filter double and recorded progress bars.
#include "console/link/status_poll.h"
#include "tests/console/link/fake_robot.h"
#include "tests/support/sensor_stub.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace kavro::console;
using kavro::Ipv4Address;
using namespace kavro::console::testing;

namespace {

struct FakeCapteur : kavro::test::SensorStub {

    HRESULT SetConfig(int index, const kavro::SensorChannelRecord* record) override {
        calls.push_back("SetConfig " + std::to_string(index));
        if (fail == "SetConfig") return E_FAIL;
        records[index].settings = *record;
        return S_OK;
    }
    HRESULT GetConfig(int index, kavro::ConsoleSensorChannelRecord* record) override {
        calls.push_back("GetConfig " + std::to_string(index));
        if (fail == "GetConfig") return E_FAIL;
        *record = records[index];
        return S_OK;
    }
    HRESULT LoopbackBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3, unsigned char* b4) override {
        calls.push_back("LoopbackBytes");
        if (fail == "LoopbackBytes") return E_FAIL;
        loopback = {*b1, *b2, *b3, *b4};
        return S_OK;
    }
    HRESULT AddressBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3, unsigned char* b4) override {
        calls.push_back("AddressBytes");
        if (fail == "AddressBytes") return E_FAIL;
        addresses.push_back({*b1, *b2, *b3, *b4});
        return S_OK;
    }
    HRESULT GetStatus(int* index, std::int32_t* r1, std::int32_t* r2, std::int32_t* r3, std::int32_t* r4) override {
        calls.push_back("GetStatus " + std::to_string(*index));
        if (fail == "GetStatus") return E_FAIL;
        auto& s = status[*index];
        *r1 = s[0];
        *r2 = s[1];
        *r3 = s[2];
        *r4 = s[3];
        return S_OK;
    }
    HRESULT GetPosition(int* index, float* latitude, float* longitude) override {
        calls.push_back("GetPosition " + std::to_string(*index));
        if (fail == "GetPosition") return E_FAIL;
        *latitude = positions[*index].first;
        *longitude = positions[*index].second;
        return S_OK;
    }
    HRESULT SetWaypoint(int*, int, float*, float*) override { return E_NOTIMPL; }
    HRESULT SetRobotValue(int*, int*) override { return E_NOTIMPL; }

    std::map<int, kavro::ConsoleSensorChannelRecord> records;
    std::map<int, std::array<std::int32_t, 4>> status;
    std::map<int, std::pair<float, float>> positions;
    std::vector<Ipv4Address> addresses;
    Ipv4Address loopback{};
    std::vector<std::string> calls;
    std::string fail;
};

struct FakeWindow : StatusWindow {
    void set_bar(int id, int value) override { bars[id] = value; }
    ICapteurControl* capteur() override { return present ? sensor : nullptr; }
    void release_video_graph() override {
        ++releases;
        present = false;
    }
    void error_trace(int location, HRESULT hr) override { traces.push_back({location, hr}); }

    ICapteurControl* sensor = nullptr;
    bool present = true;
    std::map<int, int> bars;
    int releases = 0;
    std::vector<std::pair<int, HRESULT>> traces;
};

class StatusPollTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.sensor = &capteur;
        fields.set(1, {10, 0, 0, 1}, 0, 15001);
        fields.set(2, {0, 0, 0, 0}, 0, 15002);
        fields.set(5, {10, 0, 0, 5}, 0, 15005);
        capteur.status[1] = {87, 64 + 20, 64 + 30, 256 + 55}; // signal's low byte is 55
        capteur.status[5] = {1, 2, 3, 256 + 4};
        capteur.positions[1] = {48.5f, 0.0f};
        capteur.positions[5] = {0.0f, -3.25f};
    }
    bool poll() { return status_poll(table, fields, window, nodes, reference); }

    FakeCapteur capteur;
    FakeWindow window;
    FakeFields fields;
    RobotTable table;
    std::map<int, Ipv4Address> nodes;
    Ipv4Address reference{127, 0, 0, 1};
};

} // namespace

TEST_F(StatusPollTest, BarsTableAndPositions) {
    window.bars[kBatteryBar[2]] = 50;
    ASSERT_TRUE(poll());
    EXPECT_EQ(window.bars[kBatteryBar[1]], 87);
    EXPECT_EQ(window.bars[kSpeedBar[1]], 25);
    EXPECT_EQ(window.bars[kSignalBar[1]], 55);
    // Robot 2 has no address: its bars read 0 and the sensor is never asked about it.
    EXPECT_EQ(window.bars[kBatteryBar[2]], 0);
    EXPECT_EQ(window.bars[kSpeedBar[2]], 0);
    EXPECT_EQ(window.bars[kSignalBar[2]], 0);
    for (auto& c : capteur.calls) EXPECT_EQ(c.find(" 2"), std::string::npos) << c;
    // Base station: the four results as they are (low byte).
    EXPECT_EQ(window.bars[1325], 1);
    EXPECT_EQ(window.bars[1328], 2);
    EXPECT_EQ(window.bars[1334], 3);
    EXPECT_EQ(window.bars[1337], 4);

    EXPECT_EQ(table.robot(1).battery, 87);
    EXPECT_EQ(table.robot(1).wheel2, 94);
    // Exact zeros read as "no position".
    EXPECT_FLOAT_EQ(table.robot(1).latitude, 48.5f);
    EXPECT_FLOAT_EQ(table.robot(1).longitude, 1000.0f);
    EXPECT_FLOAT_EQ(table.robot(5).latitude, 1000.0f);
    EXPECT_FLOAT_EQ(table.robot(5).longitude, -3.25f);
    EXPECT_EQ(window.releases, 0);
}

TEST_F(StatusPollTest, StatusAddressAndPortReachTheRecordOnlyWhenChanged) {
    capteur.records[1].node_address[0] = 10;
    capteur.records[1].node_address[3] = 42;
    capteur.records[1].settings.general_on = 1;
    ASSERT_TRUE(poll());
    const auto& r = capteur.records[1].settings;
    EXPECT_EQ(r.status_port, 15001u);
    EXPECT_EQ(r.status_address[0], 10);
    EXPECT_EQ(r.status_address[3], 1);
    EXPECT_EQ(r.general_on, 1) << "the other settings go back as they came";
    EXPECT_EQ(nodes[1], (Ipv4Address{10, 0, 0, 42}));
    auto sets = std::count(capteur.calls.begin(), capteur.calls.end(), std::string("SetConfig 1"));
    EXPECT_EQ(sets, 1);

    capteur.calls.clear();
    ASSERT_TRUE(poll());
    EXPECT_EQ(std::count(capteur.calls.begin(), capteur.calls.end(), std::string("SetConfig 1")), 0);
    EXPECT_EQ(std::count(capteur.calls.begin(), capteur.calls.end(), std::string("LoopbackBytes")), 0);

    // An address equal to the reference address is handed on as the loopback reference.
    reference = {10, 0, 0, 5};
    ASSERT_TRUE(poll());
    EXPECT_EQ(capteur.loopback, (Ipv4Address{10, 0, 0, 5}));
}

TEST_F(StatusPollTest, FailingCallReleasesTheGraphAndTracesItsLocation) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"GetConfig", 211}, {"SetConfig", 219}, {"AddressBytes", 231},
        {"GetStatus", 238}, {"GetPosition", 241}, {"LoopbackBytes", 234}};
    for (auto& [call, location] : cases) {
        SCOPED_TRACE(call);
        FakeCapteur sensor;
        sensor.fail = call;
        FakeWindow w;
        w.sensor = &sensor;
        Ipv4Address ref = call == "LoopbackBytes" ? Ipv4Address{10, 0, 0, 1} : Ipv4Address{127, 0, 0, 1};
        EXPECT_FALSE(status_poll(table, fields, w, nodes, ref));
        EXPECT_EQ(w.releases, 1);
        ASSERT_EQ(w.traces.size(), 1u);
        EXPECT_EQ(w.traces[0].first, location);
        EXPECT_EQ(w.traces[0].second, E_FAIL);
        // The tick stops at the failing call: index 5 is never reached.
        for (auto& c : sensor.calls) EXPECT_EQ(c.find(" 5"), std::string::npos) << c;
        // Later polls without the graph only clear the bars of empty addresses.
        sensor.calls.clear();
        EXPECT_TRUE(status_poll(table, fields, w, nodes, ref));
        EXPECT_TRUE(sensor.calls.empty());
    }
}
