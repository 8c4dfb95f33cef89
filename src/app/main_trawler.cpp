// trawler.exe: the wizard on the PC's real print spooler.
#include <windows.h>

#include <memory>
#include <string>

#include "app/log_get_app.h"
#include "platform/win32/win32_spooler.h"

namespace {

std::unique_ptr<trawler::Spooler> MakeWin32Spooler(trawler::Host&, std::string*) {
    return std::make_unique<trawler::Win32Spooler>();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return trawler::RunTrawler(instance, &MakeWin32Spooler);
}
