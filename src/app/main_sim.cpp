// trawler-sim.exe: the same wizard wired to the emulated PV-730 (tests only, never shipped).
// The device comes from the description file named by TRAWLER_SIM_DEVICE, else the built-in
// default device. An environment variable, not an argument: the arguments are searched for
// "-eng" and "-demo" anywhere, and a file path could contain either.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/log_get_app.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"

namespace {

const char kDeviceVariable[] = "TRAWLER_SIM_DEVICE";

std::unique_ptr<trawler::Spooler> MakeEmulatedSpooler(trawler::Host& host, std::string* error) {
    const char* path = std::getenv(kDeviceVariable);
    if (!path || !*path) {
        return std::make_unique<trawler::EmulatedSpooler>(trawler::DefaultDevice(), host);
    }
    std::string loadError;
    trawler::DeviceDescription device = trawler::LoadDeviceDescription(path, &loadError);
    if (!loadError.empty()) {
        *error = std::string("Cannot read the device description ") + path + ":\n" + loadError;
        return nullptr;
    }
    return std::make_unique<trawler::EmulatedSpooler>(std::move(device), host);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return trawler::RunTrawler(instance, &MakeEmulatedSpooler);
}
