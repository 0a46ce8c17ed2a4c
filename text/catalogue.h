#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "text/ui_language.h"

namespace qor {

// Every situation in which the program shows a text. The texts belong to the
// situation, not to the English wording: several situations share an English
// text but not their Chinese one.
enum class Situation {
    // Main window
    Step1Instructions,
    Step2Instructions,
    BrowseCaption,       // main button in USB mode and after an RS-232 connect
    ConnectCaption,      // main button in RS-232 mode and after a failed connect
    DevicesConnected,    // poll: two or more imagers, %d the count
    OneDeviceConnected,  // poll: one imager, %d the count
    NoDeviceConnected,
    PortListEntry,   // COM%d
    DeviceRowLabel,  // initial label of a device row, %d its number

    // Update command flow and RS-232 connect
    HandshakePortOpenFailed,  // %s the port name
    TooManyDevices,
    InvalidFile,
    PortsNotFound,

    // Device update worker
    ImageOpenFailed,
    DevicePortOpenFailed,   // %s the port name
    WaitingForProbeAnswer,  // %s the port name
    ProbeNotAnswered,
    HeaderNotAcknowledged,
    HeaderRefused,
    BlockReadShort,
    BlockWriteFailed,
    TransferProgress,      // %d KiB sent, %d KiB in all
    BlockNotAcknowledged,  // %d the wait's result; the Chinese text has no number
    TransferCompleted,
    CheckingImage,
    Updating,
    TransferNotConfirmed,
    UpdateReportedFailure,
    UpdateTimedOut,
    UpdatesSucceeded,

    // Command line
    InstanceNotAttached,  // %s the instance named
};

inline constexpr std::size_t kSituationCount = 31;

// Capacities of the fixed text buffers on the Windows side, in UTF-16 code
// units including the terminating NUL.
inline constexpr std::size_t kTextCapacity = 260;   // status texts, message boxes
inline constexpr std::size_t kComNameCapacity = 8;  // "COM%d" names

// The text of a situation as the catalogue holds it, placeholders and all:
// Chinese when `uiLanguage` is 2052 and the situation has a Chinese text,
// English otherwise.
std::string_view catalogueText(Situation situation, uint16_t uiLanguage);

// True when the situation is shown in English whatever the language.
bool isEnglishOnly(Situation situation);

// How things ended in `situation`, as one word for scripts and records:
// lower-case ASCII, the same in every language ("block-refused"). Empty for
// a text that tells no outcome (a caption, a progress text).
std::string_view situationCode(Situation situation);

// One value for a placeholder: a number or a text (a port name).
class TextArg {
  public:
    template <std::integral T>
    TextArg(T number) : m_number(static_cast<int64_t>(number)), m_isNumber(true) {}
    template <typename T>
    requires std::convertible_to<const T&, std::string_view> &&
        (!std::integral<T>)TextArg(const T& text)
        : m_text(text) {}

    bool isNumber() const { return m_isNumber; }
    int64_t number() const { return m_number; }
    std::string_view text() const { return m_text; }

  private:
    int64_t m_number = 0;
    std::string_view m_text;
    bool m_isNumber = false;
};

// The situation's text in the chosen language with its placeholders filled,
// cut to fit a buffer of `capacity` UTF-16 units (see text_fit.h). Only the
// catalogue's own texts serve as patterns: each "%d" or "%s" takes the next
// value, a number in decimal, a text as it stands up to its first NUL (a "%"
// inside it is just a character). Values beyond the placeholders are
// ignored, which is how the Chinese form of a block's failure drops the
// number; a placeholder without a value is left out.
std::string formatText(Situation situation, uint16_t uiLanguage, std::size_t capacity,
                       std::initializer_list<TextArg> args = {});

}  // namespace qor
