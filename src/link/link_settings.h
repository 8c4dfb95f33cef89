// The four link settings, their construction and registry default values, and the override parser.
#pragma once

#include <cstdint>
#include <string>

namespace trawler {

class PrinterLink;

// Values a new PrinterLink starts with; start-up replaces them before the printer is reached.
constexpr int32_t kInitialEmptyReadCount = 30;
constexpr int32_t kInitialReadWaitMillisec = 200;
constexpr int32_t kInitialWaitAfterSendMillisec = 1000;
constexpr int32_t kInitialOneReadByte = 1024;

// Defaults for values missing from the registry section "PV730Service".
constexpr int32_t kDefaultEmptyReadCount = 200;
constexpr int32_t kDefaultReadWaitMillisec = 100;
constexpr int32_t kDefaultWaitAfterSendMillisec = 500;
constexpr int32_t kDefaultOneReadByte = 516;

// The registry value names, which are also the names the override parser accepts.
inline constexpr char kSettingEmptyReadCount[] = "EmptyReadCount";
inline constexpr char kSettingOneReadByte[] = "OneReadByte";
inline constexpr char kSettingReadWaitMillisec[] = "ReadWaitMillisec";
inline constexpr char kSettingWaitAfterSendMillisec[] = "WaitAfterSendMillisec";

struct LinkSettings {
    int32_t EmptyReadCount = kDefaultEmptyReadCount;
    int32_t ReadWaitMillisec = kDefaultReadWaitMillisec;
    int32_t WaitAfterSendMillisec = kDefaultWaitAfterSendMillisec;
    int32_t OneReadByte = kDefaultOneReadByte;
};

// The registry defaults (what a default-constructed LinkSettings holds).
inline LinkSettings DefaultLinkSettings() {
    return LinkSettings{};
}

// Stores the three plain settings directly and OneReadByte through SetOneReadByte, which
// drops any buffered answer bytes.
void ApplySettings(PrinterLink& link, const LinkSettings& settings);

// The settings a link holds now.
LinkSettings CurrentSettings(const PrinterLink& link);

// One "NAME=VALUE" override, NAME one of the four setting names (exact case), VALUE a signed
// 32-bit decimal with nothing around it. On success the named field of *settings is set and
// the result is true; otherwise *settings is unchanged, *error (if given) says why, false.
bool ParseLinkSetting(const std::string& text, LinkSettings* settings, std::string* error);

}  // namespace trawler
