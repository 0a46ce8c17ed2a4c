#include "app/flash/open_problem.h"

#include "text/ui_language.h"

namespace qor {

OpenProblem classifyOpenFailure(const OpenFailure& failure) {
    using Stage = OpenFailure::Stage;
    switch (failure.stage) {
        case Stage::None:
            return OpenProblem::None;
        case Stage::BadName:
            return OpenProblem::BadName;
        case Stage::InUse:
            return OpenProblem::Busy;
        case Stage::Open:
        case Stage::Configure:
            break;
    }
    return classifyOpenError(failure.osError);
}

std::string openProblemReason(OpenProblem problem, uint16_t uiLanguage) {
    const bool zh = usesChineseTexts(uiLanguage);
    switch (problem) {
        case OpenProblem::None:
            return {};
        case OpenProblem::PermissionDenied:
            return zh ? "权限不足" : "permission denied";
        case OpenProblem::Busy:
            return zh ? "端口忙碌" : "port busy";
        case OpenProblem::NoSuchDevice:
            return zh ? "没有此设备" : "no such device";
        case OpenProblem::BadName:
            return zh ? "不是端口名称" : "not a port name";
    }
    return {};
}

}  // namespace qor
