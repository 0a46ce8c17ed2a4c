#include <windows.h>

#include "app/flash/open_problem.h"
#include "text/ui_language.h"

namespace qor {

OpenProblem classifyOpenError(int osError) {
    switch (osError) {
        // A COM port that another program holds answers "access denied":
        // the port is opened without sharing.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return OpenProblem::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_BAD_UNIT:
            return OpenProblem::NoSuchDevice;
        default:
            return OpenProblem::None;
    }
}

std::string openProblemHint(OpenProblem problem, uint16_t uiLanguage) {
    const bool zh = usesChineseTexts(uiLanguage);
    switch (problem) {
        case OpenProblem::None:
        case OpenProblem::PermissionDenied:
            return {};
        case OpenProblem::Busy:
            return zh ? "另一个程序正占用该端口; 关闭它后重试"
                      : "another program holds the port; close it and try again";
        case OpenProblem::NoSuchDevice:
            return zh ? "检查端口名称与连线 (装置管理员列出 COM 端口)"
                      : "check the port name and the cable (Device Manager lists the COM ports)";
        case OpenProblem::BadName:
            return zh ? "端口名称如 COM3" : "a port name looks like COM3";
    }
    return {};
}

}  // namespace qor
