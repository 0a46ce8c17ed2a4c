#include <cerrno>

#include "app/flash/open_problem.h"
#include "text/ui_language.h"

namespace qor {

OpenProblem classifyOpenError(int osError) {
    switch (osError) {
        case EACCES:
        case EPERM:
            return OpenProblem::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenProblem::Busy;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return OpenProblem::NoSuchDevice;
        default:
            return OpenProblem::None;
    }
}

std::string openProblemHint(OpenProblem problem, uint16_t uiLanguage) {
    const bool zh = usesChineseTexts(uiLanguage);
    switch (problem) {
        case OpenProblem::None:
            return {};
        case OpenProblem::PermissionDenied:
            // The package's udev rule opens a USB imager's port to the user
            // at the desktop; dialout covers every other port and session.
            return zh ? "将用户加入 dialout 组 (sudo usermod -aG dialout $USER, 然后重新登录), "
                        "或安装 qor-updater 软件包: 其 udev 规则 " QOR_UDEV_RULE
                        " 让桌面用户直接打开 USB 扫描器的端口"
                      : "add the user to the dialout group (sudo usermod -aG dialout $USER, "
                        "then log in again), or install the qor-updater package: its udev "
                        "rule " QOR_UDEV_RULE
                        " gives a USB imager's port to the user at the "
                        "desktop";
        case OpenProblem::Busy:
            return zh ? "另一个程序正占用该端口 (fuser -v 端口路径 可查出是谁); 关闭它后重试"
                      : "another program holds the port (fuser -v on its path shows which); "
                        "close it and try again";
        case OpenProblem::NoSuchDevice:
            return zh ? "检查端口名称与连线; qor-flash --list 列出已连接的 USB 扫描器"
                      : "check the port name and the cable; qor-flash --list shows the "
                        "attached USB imagers";
        case OpenProblem::BadName:
            return zh ? "端口名称如 ttyUSB0 或 COM3, 或以 / 开头的完整设备路径"
                      : "a port name looks like ttyUSB0 or COM3, or is a full device path "
                        "starting with /";
    }
    return {};
}

}  // namespace qor
