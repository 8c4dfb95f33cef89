// Writes the fuzz targets' starting corpora into a folder: answer scripts recorded from the
// emulated PV-730, packages from real acquisition runs, and the containers inside them.
//   make_starting_corpus OUTPUT_FOLDER
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <zlib.h>

#include "acquire/log_run.h"
#include "acquire/session.h"
#include "fuzz/fuzz_answer_script.h"
#include "link/link_settings.h"
#include "output/package_reader.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "support/recording_host.h"

using namespace trawler;

namespace {

void Fail(const std::string& what) {
    std::fprintf(stderr, "make_starting_corpus: %s\n", what.c_str());
    std::exit(1);
}

void MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) Fail("cannot create " + path);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) Fail("cannot write " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The container inside a package: everything after the magic, inflated.
std::vector<uint8_t> Unwrap(const std::vector<uint8_t>& package) {
    if (package.size() < 8) Fail("package too short");
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK) Fail("inflateInit2");
    z.next_in = const_cast<Bytef*>(package.data() + 8);
    z.avail_in = static_cast<uInt>(package.size() - 8);
    std::vector<uint8_t> out;
    uint8_t block[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = block;
        z.avail_out = sizeof block;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), block, block + (sizeof block - z.avail_out));
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) Fail("package does not inflate");
    return out;
}

DeviceDescription SmallDevice(uint64_t logBytes) {
    DeviceDescription device = DefaultDevice();
    device.log.size = logBytes;
    return device;
}

// Runs the answer sequence against the emulator, records it, and replays the recording to be
// sure the fuzz target sees the same clean run.
std::vector<uint8_t> RecordAnswers(uint8_t settings, uint64_t logBytes) {
    testing::RecordingHost host;
    EmulatedSpooler emulator(SmallDevice(logBytes), host);
    fuzz::RecordingSpooler recorder(emulator, settings);
    PrinterLink link(recorder, host);
    link.SetOneReadByte(fuzz::kScriptReadSizes[settings & 3]);
    link.EmptyReadCount = 2;
    link.ReadWaitMillisec = 1;
    link.WaitAfterSendMillisec = 1;
    if (!link.Open(fuzz::kScriptPrinter)) Fail("emulator refused the printer");
    fuzz::SequenceOutcome outcome = fuzz::RunAnswerSequence(link);
    link.Close();
    const uint64_t packets = (logBytes + 1007) / 1008;
    if (!outcome.clock || !outcome.version || outcome.eepromBlocks != 10 || !outcome.logInfo ||
        !outcome.lastPacketSeen || outcome.logBytes != logBytes ||
        outcome.logPackets != static_cast<int>(packets == 0 ? 1 : packets) ||
        !host.messages.empty()) {
        Fail("the emulator run was not clean");
    }

    std::vector<uint8_t> script = recorder.Script();
    testing::RecordingHost replayHost;
    fuzz::ScriptedSpooler replay(script.data(), script.size());
    PrinterLink replayLink(replay, replayHost);
    replayLink.SetOneReadByte(fuzz::kScriptReadSizes[settings & 3]);
    replayLink.EmptyReadCount = 2;
    replayLink.Open(fuzz::kScriptPrinter);
    fuzz::SequenceOutcome again = fuzz::RunAnswerSequence(replayLink);
    if (again.eepromBlocks != 10 || again.logBytes != logBytes || !again.lastPacketSeen ||
        !replayHost.messages.empty()) {
        Fail("the recorded script does not replay");
    }
    return script;
}

// One acquisition run (or a demonstration run) into a scratch folder; returns the package.
std::vector<uint8_t> RunPackage(const std::string& scratch, uint64_t logBytes, bool demo) {
    testing::RecordingHost host;
    EmulatedSpooler emulator(SmallDevice(logBytes), host);
    Session session(emulator, host);
    ApplySettings(session.m_link, DefaultLinkSettings());
    session.SetPrinterName(fuzz::kScriptPrinter);
    session.m_bDemo = demo;
    LogRun run(session);
    run.m_strFolder = scratch;
    run.m_separator = '/';
    run.m_strCustomer = "ACME Printing";
    run.m_strComment = "head replaced";
    ReadingView view;
    if (!run.Run(view).Saved()) Fail("the acquisition run failed");
    // The fuzz targets only check what a valid report says; a reader that turned down every
    // package would pass them, so a fresh package must read as valid here.
    PackageReport report;
    if (!ReadPackage(session.m_strSavedPath, &report)) {
        Fail("a package from a clean run does not read back: " + report.error.message);
    }
    std::vector<uint8_t> package = ReadFile(session.m_strSavedPath);
    std::remove(session.m_strSavedPath.c_str());
    return package;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) Fail("usage: make_starting_corpus OUTPUT_FOLDER");
    const std::string out = argv[1];
    MakeFolder(out);
    for (const char* target : {"link_answers_fuzz", "package_reader_fuzz", "container_walker_fuzz",
                               "collection_invariant_fuzz"}) {
        MakeFolder(out + "/" + target);
    }

    // Every OneReadByte choice but the 5-byte one (its scripts grow fourfold); short logs of
    // one, two and three packets, the last one ending inside its data area.
    const struct {
        uint8_t settings;
        uint64_t logBytes;
    } scripts[] = {{0, 2500}, {1, 1008}, {2, 1500}, {0, 10}};
    for (const auto& s : scripts) {
        WriteFile(out + "/link_answers_fuzz/emulator_" + std::to_string(s.settings) + "_" +
                      std::to_string(s.logBytes),
                  RecordAnswers(s.settings, s.logBytes));
    }

    char scratchTemplate[] = "/tmp/trawler-corpus-XXXXXX";
    const char* scratch = mkdtemp(scratchTemplate);
    if (scratch == nullptr) Fail("mkdtemp");
    const struct {
        const char* name;
        uint64_t logBytes;
        bool demo;
    } runs[] = {{"run_3000", 3000, false}, {"run_10", 10, false}, {"demo", 0, true}};
    for (const auto& r : runs) {
        std::vector<uint8_t> package = RunPackage(scratch, r.logBytes, r.demo);
        WriteFile(out + "/package_reader_fuzz/" + r.name + ".zlg", package);
        // The container target's first byte picks the deflate level.
        std::vector<uint8_t> container = Unwrap(package);
        container.insert(container.begin(), 1);
        WriteFile(out + "/container_walker_fuzz/" + r.name, container);
    }
    rmdir(scratch);

    // The collection target reads its input as a stream of choices; random bytes start it on
    // devices and faults of every kind, which it then mutates.
    uint64_t state = 7;
    for (int stream = 0; stream < 32; ++stream) {
        std::vector<uint8_t> choices(256);
        for (uint8_t& b : choices) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<uint8_t>(state >> 56);
        }
        WriteFile(out + "/collection_invariant_fuzz/random_" + std::to_string(stream), choices);
    }
    std::printf("starting corpora written to %s\n", out.c_str());
    return 0;
}
