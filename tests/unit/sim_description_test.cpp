// Device descriptions: the example files, the documented examples and every kind of bad input.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "sim/device_description.h"
#include "sim/fault_table.h"

namespace trawler {
namespace {

const std::string kDevices = std::string(TRAWLER_TEST_DATA_DIR) + "/devices";

const EepromBlock* Block(const DeviceDescription& d, uint32_t id) {
    for (const EepromBlock& b : d.eeprom) {
        if (b.id == id) return &b;
    }
    return nullptr;
}

uint32_t UnitNumber(const DeviceDescription& d) {
    const EepromBlock* b = Block(d, 0x8013);
    const uint8_t* p = &b->data[28];
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

TEST(DeviceDescriptionFile, EveryFieldOfTheExampleLandsWhereItBelongs) {
    std::string error = "stale";
    DeviceDescription d = LoadDeviceDescription(kDevices + "/slow_flaky.json", &error);
    ASSERT_EQ("", error);
    ASSERT_EQ(3u, d.printers.size());
    EXPECT_EQ("PV-730 (spare)", d.printers[1].name);
    EXPECT_EQ("Halden PV-730", d.printers[1].driver);
    EXPECT_FALSE(d.printers[1].online);
    EXPECT_TRUE(d.printers[1].offlineQueryFails);
    EXPECT_EQ("Generic Text", d.printers[2].driver);
    EXPECT_EQ((std::array<uint8_t, 8>{0x20, 0x06, 0x11, 0x30, 0x17, 0x45, 0x12, 0x00}), d.clock);
    EXPECT_EQ((std::array<uint32_t, 4>{2, 1, 0, 37}), d.version);
    EXPECT_EQ(4321u, UnitNumber(d));
    EXPECT_EQ(40u, Block(d, 0x8001)->data.size());
    EXPECT_EQ(0x00010002u, Block(d, 0x8001)->second);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5}), Block(d, 0x8002)->data);
    EXPECT_EQ(10u, d.eeprom.size());
    EXPECT_EQ((std::array<uint8_t, 4>{0x4C, 0x00, 0x31, 0x32}), d.logInfo);
    EXPECT_EQ(5000u, d.log.size);
    EXPECT_EQ(99u, d.log.patternKey);
    EXPECT_EQ(250u, d.pacing.answerDelayMillis);
    EXPECT_EQ(256u, d.pacing.bytesPerRead);
    EXPECT_EQ(200000u, d.pacing.bytesPerSecond);
    ASSERT_EQ(3u, d.faults.size());
    EXPECT_EQ(FaultKind::kBusy, d.faults[0].kind);
    EXPECT_EQ(0x8004u, d.faults[0].blockId);
    EXPECT_EQ(FaultKind::kWrongLength, d.faults[1].kind);
    EXPECT_EQ(PacketPick::kLast, d.faults[1].packetPick);
    EXPECT_TRUE(d.faults[1].hasLength);
    EXPECT_EQ(1019u, d.faults[1].value);
    EXPECT_EQ(1u, d.faults[1].times);
    EXPECT_FALSE(d.faults[2].hasTarget);
    EXPECT_EQ(10u, d.faults[2].skip);
    EXPECT_EQ(2u, d.faults[2].times);  // raw reads that fail
}

TEST(DeviceDescriptionFile, PathsAreTakenFromTheDescriptionsFolder) {
    std::string error;
    DeviceDescription d = LoadDeviceDescription(kDevices + "/replayed.json", &error);
    ASSERT_EQ("", error);
    EXPECT_TRUE(d.log.fromFile);
    EXPECT_EQ(kDevices + "/log_tail.bin", d.log.path);
    EXPECT_EQ(3000u, d.log.size);
    ASSERT_EQ(2u, d.replays.size());
    for (const ReplayedAnswer& r : d.replays) {
        EXPECT_TRUE(r.fromFile);
        EXPECT_EQ(512u, r.length);  // a captured answer: one whole unit with its filler
        if (r.command == DeviceCommand::kEeprom) {
            EXPECT_EQ(0x8003u, r.blockId);
            EXPECT_EQ(kDevices + "/block_8003.bin", r.path);
        } else {
            EXPECT_EQ(DeviceCommand::kClock, r.command);
            EXPECT_EQ(kDevices + "/clock.bin", r.path);
        }
    }
    // Defaults stay where the file says nothing.
    EXPECT_EQ(DefaultDevice().clock, d.clock);
    EXPECT_EQ(1234u, UnitNumber(d));

    DeviceDescription none = LoadDeviceDescription(kDevices + "/no_such_device.json", &error);
    EXPECT_EQ("cannot open the file", error);
    EXPECT_TRUE(none.printers.empty());
}

TEST(DeviceDescriptionFile, EveryExampleInTheDeviceDocumentIsValid) {
    std::ifstream doc(std::string(TRAWLER_TEST_DATA_DIR) + "/../../../docs/DEVICE.md");
    ASSERT_TRUE(doc.is_open());
    std::string line, block;
    bool inJson = false;
    int examples = 0;
    while (std::getline(doc, line)) {
        if (line == "```json") {
            inJson = true;
            block.clear();
        } else if (inJson && line == "```") {
            inJson = false;
            ++examples;
            SCOPED_TRACE(block);
            std::string error = "stale";
            DeviceDescription d = ParseDeviceDescription(block, kDevices, &error);
            EXPECT_EQ("", error);
            EXPECT_FALSE(d.printers.empty());
        } else if (inJson) {
            block += line + "\n";
        }
    }
    EXPECT_EQ(6, examples);
}

TEST(DeviceDescriptionFile, ABlockGivenByteForByteKeepsItsBytesUnlessAUnitNumberIsGiven) {
    std::string bytes;
    for (int i = 0; i < 32; ++i) bytes += (i ? " " : "") + std::string("AB");
    std::string error;
    DeviceDescription kept = ParseDeviceDescription(
        "{\"eeprom\": {\"0x8013\": {\"data\": \"" + bytes + "\"}}}", "", &error);
    ASSERT_EQ("", error);
    EXPECT_EQ(0xABABABABu, UnitNumber(kept));
    DeviceDescription numbered = ParseDeviceDescription(
        "{\"unit_number\": 77, \"eeprom\": {\"0x8013\": {\"data\": \"" + bytes + "\"}}}", "",
        &error);
    ASSERT_EQ("", error);
    EXPECT_EQ(77u, UnitNumber(numbered));
}

TEST(DeviceDescriptionFile, BadInputIsRefusedWithTheFieldNamed) {
    struct Case {
        const char* json;
        const char* error;  // the start of the message
    };
    const std::vector<Case> cases = {
        {"{\"clock\": ", "not valid JSON"},
        {"[1, 2]", "(top level): expected an object"},
        {"{\"pacng\": {}}", "pacng: unknown field"},
        {"{\"printers\": {}}", "printers: expected an array"},
        {"{\"printers\": [{\"driver\": \"x\"}]}", "printers[0].name: missing"},
        {"{\"printers\": [{\"name\": \"A\"}, {\"name\": \"a\"}]}",
         "printers[1].name: printer listed twice"},
        {"{\"printers\": [{\"name\": \"A\", \"online\": \"yes\"}]}",
         "printers[0].online: expected true or false"},
        {"{\"printers\": [{\"name\": \"A\", \"offline\": \"gone\"}]}", "printers[0].offline:"},
        {"{\"clock\": \"01 02 03 04 05 06 07\"}", "clock: expected 8 bytes, got 7"},
        {"{\"clock\": \"01 02 03 04 05 06 07 0\"}", "clock: odd number of hexadecimal digits"},
        {"{\"clock\": \"01 02 03 04 05 06 07 0G\"}", "clock: not a hexadecimal digit: 'G'"},
        {"{\"version\": [1, 2, 3]}", "version: expected an array of four numbers"},
        {"{\"version\": [1, 2, 3, -4]}", "version[3]: must not be negative"},
        {"{\"version\": [1, 2, 3, 4294967296]}", "version[3]: must be at most 4294967295"},
        {"{\"unit_number\": \"12a\"}", "unit_number: expected a number, not \"12a\""},
        // Only bare digits are numbers: no sign, no blanks, nothing past 64 bits.
        {"{\"unit_number\": \"+12\"}", "unit_number: expected a number, not \"+12\""},
        {"{\"unit_number\": \" 12\"}", "unit_number: expected a number, not \" 12\""},
        {"{\"unit_number\": \"0x\"}", "unit_number: expected a number"},
        {"{\"unit_number\": \"18446744073709551616\"}", "unit_number: number too large"},
        {"{\"clock\": \"01 02 03 04 05 06 07 +8\"}", "clock: not a hexadecimal digit: '+'"},
        {"{\"eeprom\": {\"0x8013\": {\"size\": 31}}}", "eeprom.0x8013: block 0x8013 needs"},
        {"{\"unit_number\": 5, \"eeprom\": {\"0x8013\": {\"data\": \"00\"}}}", "unit_number:"},
        {"{\"eeprom\": {\"0x8001\": {\"size\": 4, \"data\": \"00\"}}}",
         "eeprom.0x8001: give \"size\" or \"data\", not both"},
        {"{\"eeprom\": {\"0x8001\": {\"size\": 65520}}}", "eeprom.0x8001.size: must be at most"},
        {"{\"eeprom\": {\"80x1\": {}}}", "eeprom.80x1: expected a number"},
        {"{\"eeprom\": {\"0x8001\": {\"sise\": 4}}}", "eeprom.0x8001.sise: unknown field"},
        {"{\"log\": {\"size\": 4294967296}}", "log.size: must be at most 4294967295"},
        {"{\"log\": {\"file\": \"no_such_log.bin\"}}", "log.file: cannot open"},
        {"{\"log\": {\"file\": \"log_tail.bin\", \"size\": 3}}", "log: a \"file\" log takes"},
        {"{\"pacing\": {\"bytes_per_read\": 0}}", "pacing.bytes_per_read: must be at least 1"},
        {"{\"replay\": {\"clock\": \"40 0\"}}", "replay.clock: odd number"},
        {"{\"replay\": {\"clok\": \"40\"}}", "replay.clok: unknown field"},
        {"{\"replay\": {\"version\": {}}}", "replay.version: give \"hex\" or \"file\""},
        {"{\"faults\": [{\"command\": \"clock\"}]}", "faults[0].kind: missing"},
        {"{\"faults\": [{\"kind\": \"trunc\"}]}", "faults[0].kind: unknown fault kind \"trunc\""},
        {"{\"faults\": [{\"kind\": \"no-answer\"}]}", "faults[0].command: missing"},
        {"{\"faults\": [{\"kind\": \"no-answer\", \"command\": \"clocks\"}]}",
         "faults[0].command: unknown command \"clocks\""},
        {"{\"faults\": [{\"kind\": \"truncate\", \"command\": \"clock\"}]}",
         "faults[0].after: missing"},
        {"{\"faults\": [{\"kind\": \"truncate\", \"command\": \"clock\", \"aftr\": 3}]}",
         "faults[0].aftr: unknown field"},
        {"{\"faults\": [{\"kind\": \"no-answer\", \"command\": \"clock\", \"packet\": 1}]}",
         "faults[0].packet: only for the log_data command"},
        {"{\"faults\": [{\"kind\": \"no-answer\", \"command\": \"log_data\", \"block\": 1}]}",
         "faults[0].block: only for the eeprom command"},
        {"{\"faults\": [{\"kind\": \"no-answer\", \"command\": \"log_data\", \"packet\": "
         "\"mid\"}]}",
         "faults[0].packet: expected a packet number"},
        {"{\"faults\": [{\"kind\": \"wrong-length\", \"command\": \"clock\"}]}",
         "faults[0].length: missing"},
        {"{\"faults\": [{\"kind\": \"wrong-length\", \"command\": \"clock\", \"size\": 3}]}",
         "faults[0].size: only for the eeprom command"},
        {"{\"faults\": [{\"kind\": \"wrong-block-id\", \"command\": \"clock\", \"id\": 1}]}",
         "faults[0].command: wrong-block-id is for the eeprom command"},
        {"{\"faults\": [{\"kind\": \"bad-checksum\", \"command\": \"eeprom\", \"delta\": 0}]}",
         "faults[0].delta: 0 leaves the checksum right"},
        {"{\"faults\": [{\"kind\": \"oversize-valid-count\", \"command\": \"log_data\", "
         "\"valid\": 1008}]}",
         "faults[0].valid: must be more than 1008"},
        {"{\"faults\": [{\"kind\": \"busy\", \"command\": \"clock\", \"count\": 0}]}",
         "faults[0].count: must be at least 1"},
        {"{\"faults\": [{\"kind\": \"query-fails\", \"times\": 2}]}", "faults[0].times: use"},
        {"{\"faults\": [{\"kind\": \"corrupt\", \"command\": \"clock\", \"offset\": 1}]}",
         "faults[0].value: missing"},
        {"{\"faults\": [{\"kind\": \"corrupt\", \"command\": \"clock\", \"offset\": 1, "
         "\"value\": 256}]}",
         "faults[0].value: must be at most 255"},
        {"{\"faults\": [{\"kind\": \"drop\", \"command\": \"clock\", \"count\": 1}]}",
         "faults[0].offset: missing"},
        {"{\"faults\": [{\"kind\": \"drop\", \"command\": \"clock\", \"offset\": 0, "
         "\"count\": 0}]}",
         "faults[0].count: must be at least 1"},
        {"{\"faults\": [{\"kind\": \"insert\", \"command\": \"clock\", \"offset\": 0}]}",
         "faults[0].bytes: missing"},
        {"{\"faults\": [{\"kind\": \"open-refused\", \"command\": \"clock\"}]}",
         "faults[0].command: unknown field"},
        {"{\"faults\": [{\"kind\": \"open-refused\", \"error\": 0}]}",
         "faults[0].error: a failing call needs a non-zero code"},
        {"{\"replay\": {\"clock\": \"40\"}, \"faults\": [{\"kind\": \"wrong-code\", "
         "\"command\": \"clock\", \"code\": 6}]}",
         "faults[0]: the answer it hits is replayed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        std::string error;
        DeviceDescription d = ParseDeviceDescription(c.json, kDevices, &error);
        EXPECT_EQ(0u, error.rfind(c.error, 0)) << "error was: " << error;
        EXPECT_TRUE(d.printers.empty());
    }
}

// The loader, the recorder and the emulator share one table of fault kinds: every kind has
// exactly one row, and the loader knows every row's name and its fields.
TEST(DeviceDescriptionFile, EveryFaultKindHasOneRowThatTheLoaderKnows) {
    std::set<std::string> names;
    for (int k = 0; k <= static_cast<int>(FaultKind::kInsert); ++k) {
        const FaultKind kind = static_cast<FaultKind>(k);
        const sim::FaultKindInfo& info = sim::InfoOf(kind);
        SCOPED_TRACE(info.name);
        EXPECT_EQ(kind, info.kind);
        EXPECT_TRUE(names.insert(info.name).second);
        EXPECT_EQ(&info, sim::FindFaultKind(info.name));
        std::string field = "{\"kind\": \"" + std::string(info.name) + "\", \"unheard-of\": 1";
        if (info.needsTarget) field += ", \"command\": \"log_data\"";
        std::string error;
        ParseDeviceDescription("{\"faults\": [" + field + "}]}", "", &error);
        // Refused for the field no kind has, not for its name.
        EXPECT_EQ(0u, error.find("faults[0].unheard-of: unknown field")) << error;
    }
    EXPECT_EQ(nullptr, sim::FindFaultKind("no-such-fault"));
}

}  // namespace
}  // namespace trawler
