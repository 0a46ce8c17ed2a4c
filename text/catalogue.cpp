#include "text/catalogue.h"

#include <array>

namespace qor {

namespace {

struct Entry {
    Situation situation;
    std::u8string_view english;
    std::u8string_view chinese;  // empty: shown in English in every language
    std::string_view code;       // see situationCode; empty: no outcome
};

// Kept letter for letter, misspellings and leading spaces included: users
// know the program by these texts. The codes are what scripts and records
// match on: once given, a code is never changed.
constexpr std::array<Entry, kSituationCount> kCatalogue = {{
    {Situation::Step1Instructions,
     u8"Step 1:\r\rScan barcode to start update mode",
     u8"更新步骤一:\r\r扫描二维码设置更新模式",
     {}},
    {Situation::Step2Instructions,
     u8"Step 2:\r\rSelect FW file",
     u8"更新步骤二:\r\r选取固件档案",
     {}},
    {Situation::BrowseCaption, u8"Browse..", u8"固件", {}},
    {Situation::ConnectCaption, u8"Connect", u8"连线", {}},
    {Situation::DevicesConnected, u8"  %d Devices Connected", u8"  %d 个装置上线", {}},
    {Situation::OneDeviceConnected, u8"  %d Device Connected", u8"  %d 个装置上线", {}},
    {Situation::NoDeviceConnected, u8"  Disconnected", u8"离线", "no-imager"},
    {Situation::PortListEntry, u8"COM%d", u8"COM%d", {}},
    {Situation::DeviceRowLabel, u8"Device: %d ", u8"Device: %d ", {}},
    {Situation::HandshakePortOpenFailed, u8"Connect To %s Failed", u8"%s 开启失败",
     "port-open-failed"},
    {Situation::TooManyDevices, u8"Too Many COM Ports !", {}, "too-many-imagers"},
    {Situation::InvalidFile, u8"Invalid File !", u8"档案格式错误", "image-refused"},
    {Situation::PortsNotFound, u8"COM Port Error !", u8"连线失败", "port-error"},
    {Situation::ImageOpenFailed, u8"Open File Failed", u8"档案读取失败", "image-unreadable"},
    {Situation::DevicePortOpenFailed, u8"Connect To %s Failed", u8"%s 开启失败",
     "port-open-failed"},
    {Situation::WaitingForProbeAnswer, u8"Connect to %s ", u8"连线 %s ", {}},
    {Situation::ProbeNotAnswered, u8"Connect Failed", u8"连线失败", "connect-failed"},
    {Situation::HeaderNotAcknowledged, u8"Transmit File Failed", u8"档案传送失败",
     "header-unanswered"},
    {Situation::HeaderRefused, u8"Invalid Firmware !", u8"不支持此固件版本 !!", "firmware-refused"},
    {Situation::BlockReadShort, u8"Open File Failed", u8"档案读取失败", "image-short"},
    {Situation::BlockWriteFailed, u8"Transmit File Failed", u8"传送发生错误", "write-failed"},
    {Situation::TransferProgress, u8"%d KB / %d KB", u8"%d KB / %d KB", {}},
    {Situation::BlockNotAcknowledged, u8"Transmit File Failed (%d)", u8"档案传送失败",
     "block-refused"},
    {Situation::TransferCompleted, u8"File Transmit Completed", {}, {}},
    {Situation::CheckingImage, u8"Check FW....", {}, {}},
    {Situation::Updating, u8"Upating", {}, {}},
    {Situation::TransferNotConfirmed, u8"File Transmit Failed", u8"档案传送失败",
     "transfer-unconfirmed"},
    {Situation::UpdateReportedFailure, u8"Upate Failed", u8"更新失败", "update-failed"},
    {Situation::UpdateTimedOut, u8"Upate Failed", u8"软件更新失败", "update-timeout"},
    {Situation::UpdatesSucceeded, u8"The updates were successfully installed", u8"软件更新成功",
     "ok"},
    // The command line's own: no window ever showed it.
    {Situation::InstanceNotAttached, u8"Imager %s Not Attached", u8"扫描器 %s 未连接",
     "instance-absent"},
}};

constexpr bool isInSituationOrder() {
    for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
        if (static_cast<std::size_t>(kCatalogue[i].situation) != i) {
            return false;
        }
    }
    return true;
}
static_assert(isInSituationOrder(), "one row per situation, in the order of the enum");

// Lower-case letters and digits in words joined by single hyphens.
constexpr bool isCodeWord(std::string_view code) {
    bool wordStart = true;
    for (const char c : code) {
        if (c == '-' && !wordStart) {
            wordStart = true;
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            wordStart = false;
        } else {
            return false;
        }
    }
    return !wordStart || code.empty();
}

constexpr bool everyCodeIsAWord() {
    for (const Entry& entry : kCatalogue) {
        if (!isCodeWord(entry.code)) {
            return false;
        }
    }
    return true;
}
static_assert(everyCodeIsAWord(), "codes are lower-case ASCII words joined by hyphens");

const Entry& entryFor(Situation situation) {
    return kCatalogue[static_cast<std::size_t>(situation)];
}

std::string_view asChars(std::u8string_view text) {
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

}  // namespace

std::string_view catalogueText(Situation situation, uint16_t uiLanguage) {
    const Entry& entry = entryFor(situation);
    if (usesChineseTexts(uiLanguage) && !entry.chinese.empty()) {
        return asChars(entry.chinese);
    }
    return asChars(entry.english);
}

bool isEnglishOnly(Situation situation) {
    return entryFor(situation).chinese.empty();
}

std::string_view situationCode(Situation situation) {
    return entryFor(situation).code;
}

}  // namespace qor
