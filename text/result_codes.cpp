#include "text/result_codes.h"

#include <algorithm>

#include "text/catalogue.h"

namespace qor {

std::vector<std::string_view> everyResultCode() {
    std::vector<std::string_view> codes;
    const auto add = [&codes](std::string_view code) {
        if (!code.empty() && std::find(codes.begin(), codes.end(), code) == codes.end()) {
            codes.push_back(code);
        }
    };
    for (std::size_t i = 0; i < kSituationCount; ++i) {
        add(situationCode(static_cast<Situation>(i)));
    }
    for (const std::string_view code : {result_code::kInterrupted, result_code::kNoAnswer,
                                        result_code::kNoThread, result_code::kReportUnwritable}) {
        add(code);
    }
    return codes;
}

}  // namespace qor
