// What the page's script calls, and what the session asks of the page. Every
// function here runs on the page's thread except the page_* requests, which
// the workers make and emscripten carries to the page's thread without
// waiting (web/page_link.js).

#include <emscripten/emscripten.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "text/catalogue.h"
#include "text/ui_language.h"
#include "update/image_header.h"
#include "update/token_protocol.h"
#include "web/web_session.h"

extern "C" {
void qor_page_open(int port, double op, int baud);
void qor_page_write(int port, double op, const uint8_t* data, int size);
void qor_page_close(int port, double op);
// `text` is the page's to free.
void qor_page_event(int event, int device, double a, double b, char* text);
}

namespace qor {
namespace {

class PageLink final : public WebSerialLink, public WebEventSink {
  public:
    void requestOpen(int port, uint64_t op, uint32_t baud) override {
        qor_page_open(port, static_cast<double>(op), static_cast<int>(baud));
    }
    void requestWrite(int port, uint64_t op, const uint8_t* data, std::size_t size) override {
        qor_page_write(port, static_cast<double>(op), data, static_cast<int>(size));
    }
    void requestClose(int port, uint64_t op) override {
        qor_page_close(port, static_cast<double>(op));
    }
    void post(WebEvent event, int device, double a, double b, std::string_view text) override {
        char* copy = static_cast<char*>(std::malloc(text.size() + 1));
        if (copy != nullptr) {
            std::memcpy(copy, text.data(), text.size());
            copy[text.size()] = '\0';
        }
        qor_page_event(static_cast<int>(event), device, a, b, copy);
    }
};

// The page's updater with the link it talks through; one a page.
struct Page {
    explicit Page(uint16_t language) : session(language, link, link) {}
    PageLink link;
    WebSession session;
    std::string text;  // the last text asked for, until the next ask
};

}  // namespace
}  // namespace qor

using qor::Page;

extern "C" {

// `languages` is the browser's list of languages, colon-separated, first
// preferred ("zh-CN:en").
EMSCRIPTEN_KEEPALIVE Page* qor_page_create(const char* languages) {
    const uint16_t language = qor::uiLanguageFromLocale({.language = languages});
    return new Page(language);
}

// The situations whose texts the page shows, by name, as a JSON object
// ({"InvalidFile":12,...}); the numbers are what qor_page_text takes.
EMSCRIPTEN_KEEPALIVE const char* qor_page_situations() {
    using qor::Situation;
    static constexpr std::pair<const char*, Situation> kShown[] = {
        {"Step1Instructions", Situation::Step1Instructions},
        {"Step2Instructions", Situation::Step2Instructions},
        {"BrowseCaption", Situation::BrowseCaption},
        {"ConnectCaption", Situation::ConnectCaption},
        {"DevicesConnected", Situation::DevicesConnected},
        {"OneDeviceConnected", Situation::OneDeviceConnected},
        {"NoDeviceConnected", Situation::NoDeviceConnected},
        {"DeviceRowLabel", Situation::DeviceRowLabel},
        {"TooManyDevices", Situation::TooManyDevices},
        {"InvalidFile", Situation::InvalidFile},
        {"PortsNotFound", Situation::PortsNotFound},
        {"WaitingForProbeAnswer", Situation::WaitingForProbeAnswer},
        {"TransferProgress", Situation::TransferProgress},
        {"TransferCompleted", Situation::TransferCompleted},
        {"CheckingImage", Situation::CheckingImage},
        {"Updating", Situation::Updating},
        {"UpdatesSucceeded", Situation::UpdatesSucceeded},
    };
    static const std::string json = [] {
        std::string text = "{";
        for (const auto& [name, situation] : kShown) {
            text += (text.size() > 1 ? ",\"" : "\"") + std::string(name) +
                    "\":" + std::to_string(static_cast<int>(situation));
        }
        return text + "}";
    }();
    return json.c_str();
}

// How many of the update's waits may go unanswered: the bar's length while
// the imager updates.
EMSCRIPTEN_KEEPALIVE int qor_page_update_waits() {
    return qor::kUpdateWaits;
}

EMSCRIPTEN_KEEPALIVE int qor_page_language(Page* page) {
    return page->session.uiLanguage();
}

// The catalogue's text for `situation` with its placeholders filled: the
// name when one is given, else the two numbers; valid until the next call.
EMSCRIPTEN_KEEPALIVE const char* qor_page_text(Page* page, int situation, int first, int second,
                                               const char* name) {
    const auto which = static_cast<qor::Situation>(situation);
    page->text =
        qor::formatText(which, page->session.uiLanguage(), qor::kTextCapacity,
                        name != nullptr ? std::initializer_list<qor::TextArg>{name}
                                        : std::initializer_list<qor::TextArg>{first, second});
    return page->text.c_str();
}

// 1 when a file of `length` bytes could be an image at all: whole blocks and
// under 4 GiB. Asked before a file is read, so a huge one never is.
EMSCRIPTEN_KEEPALIVE int qor_page_length_fits(double length) {
    return length >= 0 && length < 18446744073709551616.0 &&
           qor::isSendableLength(static_cast<uint64_t>(length));
}

// The image the page wrote to `path`: 0 accepted, 1 unreadable, 2 not firmware.
EMSCRIPTEN_KEEPALIVE int qor_page_check_image(Page* page, const char* path) {
    return static_cast<int>(page->session.checkImage(path));
}

EMSCRIPTEN_KEEPALIVE int qor_page_start_usb(Page* page, const int* ports, int count) {
    if (count < 0) {
        return 0;
    }
    return page->session.startUsbRun(std::vector<int>(ports, ports + count));
}

EMSCRIPTEN_KEEPALIVE int qor_page_connect(Page* page, int port) {
    return page->session.connectRs232(port);
}

EMSCRIPTEN_KEEPALIVE int qor_page_start_rs232(Page* page) {
    return page->session.startRs232Run();
}

EMSCRIPTEN_KEEPALIVE void qor_page_received(Page* page, int port, const uint8_t* data, int size) {
    page->session.ports().received(port, {data, static_cast<std::size_t>(size)});
}

EMSCRIPTEN_KEEPALIVE void qor_page_settled(Page* page, int port, double op, int ok) {
    page->session.ports().settled(port, static_cast<uint64_t>(op), ok != 0);
}

EMSCRIPTEN_KEEPALIVE void qor_page_lost(Page* page, int port) {
    page->session.ports().lost(port);
}

}  // extern "C"
