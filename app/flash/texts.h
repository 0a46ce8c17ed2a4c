#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// The command line's own texts, for situations the window never meets (no
// person at the keyboard to see a caption change, Ctrl-C, a path typed on a
// command line). The window's texts come from the catalogue.
namespace console_text {

std::string noImagerAnswered(std::string_view port, uint16_t uiLanguage);
// `reason` comes from imageUnreadableReason.
std::string imageUnreadable(std::string_view path, std::string_view reason, uint16_t uiLanguage);
// Why the image at `path` cannot be opened, looked up after the fact.
std::string imageUnreadableReason(std::string_view path, uint16_t uiLanguage);

std::string interruptAnnounced(uint16_t uiLanguage);
std::string secondInterrupt(uint16_t uiLanguage);
std::string interruptedBeforeRun(uint16_t uiLanguage);
std::string interruptedBeforeTransfer(uint16_t uiLanguage);
std::string interruptedDuringTransfer(uint32_t sentKb, uint32_t totalKb, uint16_t uiLanguage);
std::string imagerFinishesAlone(uint16_t uiLanguage);
std::string devicesUpdated(int succeeded, int devices, uint16_t uiLanguage);
// What to do when no imager is found: an imager is listed only once the
// update barcode has put it into update mode. `printablePath` names the
// barcode's printable copy, when there is one.
std::string scanUpdateBarcode(std::string_view printablePath, uint16_t uiLanguage);
std::string hintPrefix(uint16_t uiLanguage);

}  // namespace console_text

}  // namespace qor
