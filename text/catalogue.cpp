#include "text/catalogue.h"

#include <array>

namespace qor {

namespace {

struct Entry {
    Situation situation;
    std::u8string_view english;
    std::u8string_view chinese;  // empty: shown in English in every language
};

// Kept letter for letter, misspellings and leading spaces included: users
// know the program by these texts.
constexpr std::array<Entry, kSituationCount> kCatalogue = {{
    {Situation::Step1Instructions, u8"Step 1:\r\rScan barcode to start update mode",
     u8"更新步骤一:\r\r扫描二维码设置更新模式"},
    {Situation::Step2Instructions, u8"Step 2:\r\rSelect FW file", u8"更新步骤二:\r\r选取固件档案"},
    {Situation::BrowseCaption, u8"Browse..", u8"固件"},
    {Situation::ConnectCaption, u8"Connect", u8"连线"},
    {Situation::DevicesConnected, u8"  %d Devices Connected", u8"  %d 个装置上线"},
    {Situation::OneDeviceConnected, u8"  %d Device Connected", u8"  %d 个装置上线"},
    {Situation::NoDeviceConnected, u8"  Disconnected", u8"离线"},
    {Situation::PortListEntry, u8"COM%d", u8"COM%d"},
    {Situation::DeviceRowLabel, u8"Device: %d ", u8"Device: %d "},
    {Situation::HandshakePortOpenFailed, u8"Connect To %s Failed", u8"%s 开启失败"},
    {Situation::TooManyDevices, u8"Too Many COM Ports !", {}},
    {Situation::InvalidFile, u8"Invalid File !", u8"档案格式错误"},
    {Situation::PortsNotFound, u8"COM Port Error !", u8"连线失败"},
    {Situation::ImageOpenFailed, u8"Open File Failed", u8"档案读取失败"},
    {Situation::DevicePortOpenFailed, u8"Connect To %s Failed", u8"%s 开启失败"},
    {Situation::WaitingForProbeAnswer, u8"Connect to %s ", u8"连线 %s "},
    {Situation::ProbeNotAnswered, u8"Connect Failed", u8"连线失败"},
    {Situation::HeaderNotAcknowledged, u8"Transmit File Failed", u8"档案传送失败"},
    {Situation::HeaderRefused, u8"Invalid Firmware !", u8"不支持此固件版本 !!"},
    {Situation::BlockReadShort, u8"Open File Failed", u8"档案读取失败"},
    {Situation::BlockWriteFailed, u8"Transmit File Failed", u8"传送发生错误"},
    {Situation::TransferProgress, u8"%d KB / %d KB", u8"%d KB / %d KB"},
    {Situation::BlockNotAcknowledged, u8"Transmit File Failed (%d)", u8"档案传送失败"},
    {Situation::TransferCompleted, u8"File Transmit Completed", {}},
    {Situation::CheckingImage, u8"Check FW....", {}},
    {Situation::Updating, u8"Upating", {}},
    {Situation::TransferNotConfirmed, u8"File Transmit Failed", u8"档案传送失败"},
    {Situation::UpdateReportedFailure, u8"Upate Failed", u8"更新失败"},
    {Situation::UpdateTimedOut, u8"Upate Failed", u8"软件更新失败"},
    {Situation::UpdatesSucceeded, u8"The updates were successfully installed", u8"软件更新成功"},
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

}  // namespace qor
