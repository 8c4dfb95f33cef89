// Applying the link settings and parsing "NAME=VALUE" overrides.
#include "link/link_settings.h"

#include <cstdint>
#include <limits>

#include "link/printer_link.h"

namespace trawler {

namespace {

int32_t* SettingField(LinkSettings* settings, const std::string& name) {
    if (name == kSettingEmptyReadCount) return &settings->EmptyReadCount;
    if (name == kSettingOneReadByte) return &settings->OneReadByte;
    if (name == kSettingReadWaitMillisec) return &settings->ReadWaitMillisec;
    if (name == kSettingWaitAfterSendMillisec) return &settings->WaitAfterSendMillisec;
    return nullptr;
}

// A signed 32-bit decimal and nothing else: optional sign, at least one digit, no blanks.
bool ParseInt32(const std::string& text, int32_t* value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return false;
    }
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

}  // namespace

void ApplySettings(PrinterLink& link, const LinkSettings& settings) {
    link.EmptyReadCount = settings.EmptyReadCount;
    link.ReadWaitMillisec = settings.ReadWaitMillisec;
    link.WaitAfterSendMillisec = settings.WaitAfterSendMillisec;
    link.SetOneReadByte(settings.OneReadByte);
}

LinkSettings CurrentSettings(const PrinterLink& link) {
    LinkSettings settings;
    settings.EmptyReadCount = link.EmptyReadCount;
    settings.ReadWaitMillisec = link.ReadWaitMillisec;
    settings.WaitAfterSendMillisec = link.WaitAfterSendMillisec;
    settings.OneReadByte = link.OneReadByte();
    return settings;
}

bool ParseLinkSetting(const std::string& text, LinkSettings* settings, std::string* error) {
    std::string message;
    size_t equals = text.find('=');
    if (equals == std::string::npos) {
        message = "expected NAME=VALUE, got \"" + text + "\"";
    } else {
        std::string name = text.substr(0, equals);
        int32_t* field = SettingField(settings, name);
        int32_t value = 0;
        if (field == nullptr) {
            message = "unknown link setting \"" + name +
                      "\" (EmptyReadCount, OneReadByte, ReadWaitMillisec, WaitAfterSendMillisec)";
        } else if (!ParseInt32(text.substr(equals + 1), &value)) {
            message = "value of " + name + " is not a signed 32-bit decimal: \"" +
                      text.substr(equals + 1) + "\"";
        } else {
            *field = value;
            return true;
        }
    }
    if (error != nullptr) *error = message;
    return false;
}

}  // namespace trawler
