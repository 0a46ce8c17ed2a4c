#include "app/flash/texts.h"

#include <filesystem>
#include <system_error>

#include "text/ui_language.h"
#include "update/image_path.h"
#include "update/setup_command.h"

namespace qor::console_text {

namespace {

std::string pick(uint16_t uiLanguage, std::string_view english, std::string_view chinese) {
    return std::string(usesChineseTexts(uiLanguage) ? chinese : english);
}

}  // namespace

std::string noImagerAnswered(std::string_view port, uint16_t uiLanguage) {
    std::string rates;
    for (const uint32_t baud : kSetupBaudRates) {
        rates += (rates.empty() ? "" : ", ") + std::to_string(baud);
    }
    return std::string(port) + pick(uiLanguage, ": no imager answered at " + rates + " baud",
                                    ": 在 " + rates + " 波特率下均无扫描器回应");
}

std::string imageUnreadable(std::string_view path, std::string_view reason, uint16_t uiLanguage) {
    return pick(uiLanguage, "cannot open '", "无法开启 '") + std::string(path) +
           "': " + std::string(reason);
}

std::string imageUnreadableReason(std::string_view path, uint16_t uiLanguage) {
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(imagePathFromUtf8(path), error);
    if (!std::filesystem::exists(status)) {
        return pick(uiLanguage, "no such file", "没有此档案");
    }
    if (std::filesystem::is_directory(status)) {
        return pick(uiLanguage, "is a folder", "是资料夹");
    }
    return pick(uiLanguage, "cannot be read", "无法读取");
}

std::string interruptAnnounced(uint16_t uiLanguage) {
    return pick(uiLanguage,
                "interrupted: each device stops after the block in hand; Ctrl-C again leaves "
                "at once",
                "已中断: 各装置传完当前区块后停止; 再按 Ctrl-C 立即离开");
}

std::string secondInterrupt(uint16_t uiLanguage) {
    return pick(uiLanguage,
                "\nqor-flash: interrupted again: leaving at once; an imager that was being "
                "updated may be left incomplete\n",
                "\nqor-flash: 再次中断: 立即离开; 更新中的扫描器固件可能不完整\n");
}

std::string interruptedBeforeRun(uint16_t uiLanguage) {
    return pick(uiLanguage, "interrupted before any imager was updated",
                "已中断, 未更新任何扫描器");
}

std::string interruptedBeforeTransfer(uint16_t uiLanguage) {
    return pick(uiLanguage,
                "interrupted before the image went out: the imager's firmware is unchanged",
                "已中断, 固件尚未传送: 扫描器固件未变更");
}

std::string interruptedDuringTransfer(uint32_t sentKb, uint32_t totalKb, uint16_t uiLanguage) {
    const std::string counts = std::to_string(sentKb) + " KB / " + std::to_string(totalKb) + " KB";
    return pick(uiLanguage,
                "interrupted after " + counts +
                    ": the imager's firmware is incomplete; run the update again",
                "已中断于 " + counts + ": 扫描器固件不完整, 请重新更新");
}

std::string imagerFinishesAlone(uint16_t uiLanguage) {
    return pick(uiLanguage,
                "the imager has the whole image and is writing it; waiting for it to finish",
                "扫描器已收到完整固件并正在写入; 等待其完成");
}

std::string devicesUpdated(int succeeded, int devices, uint16_t uiLanguage) {
    return pick(uiLanguage,
                std::to_string(succeeded) + " of " + std::to_string(devices) + " devices updated",
                std::to_string(succeeded) + " / " + std::to_string(devices) + " 个装置更新成功");
}

std::string scanUpdateBarcode(std::string_view printablePath, uint16_t uiLanguage) {
    const std::string where =
        printablePath.empty()
            ? pick(uiLanguage, "qor-updater shows it in USB mode",
                   "qor-updater 在 USB 模式下会显示它")
            : pick(uiLanguage, "a printable copy: ", "可打印的副本: ") + std::string(printablePath);
    return pick(uiLanguage,
                "an imager shows up only in update mode: scan the update barcode with each "
                "imager (" +
                    where + "), then run qor-flash again",
                "扫描器须进入更新模式才会出现: 请用每台扫描器扫描更新条码 (" + where +
                    "), 然后再次执行 qor-flash");
}

std::string hintPrefix(uint16_t uiLanguage) {
    return pick(uiLanguage, "hint: ", "提示: ");
}

}  // namespace qor::console_text
