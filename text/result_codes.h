#pragma once

#include <string_view>
#include <vector>

namespace qor {

// How a run or a device of it ended, as one word for scripts and records:
// the same in every language and locale. The outcomes the catalogue words
// have their codes there (situationCode); these are the outcomes no text of
// the catalogue tells.
namespace result_code {
// Stopped by Ctrl-C or a signal, before or during its update.
inline constexpr std::string_view kInterrupted = "interrupted";
// No imager answered the setup exchange on the RS-232 port at any rate.
inline constexpr std::string_view kNoAnswer = "no-answer";
// No thread could be had for the device's update.
inline constexpr std::string_view kNoThread = "no-thread";
// The report named on the command line cannot be opened or written.
inline constexpr std::string_view kReportUnwritable = "report-unwritable";
}  // namespace result_code

// Every code there is, each once: the catalogue's in its order, then the
// ones above.
std::vector<std::string_view> everyResultCode();

}  // namespace qor
