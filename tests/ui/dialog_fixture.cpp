#include "tests/ui/dialog_fixture.h"

#include "tests/support/scoped_env.h"

namespace qor::testing {

namespace {

const std::u16string kList = u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";

std::u16string widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace

DialogFixture::DialogFixture(const char* language) {
    setEnv("LANGUAGE", language);
}

DialogFixture::~DialogFixture() {
    unsetEnv("LANGUAGE");
}

void DialogFixture::plugImager(const std::string& instance, const std::string& portName) {
    FakeRegistry& registry = services.fakeRegistry();
    const std::u16string path = u"USB\\VID_3C7B&PID_0E52\\" + widen(instance);
    registry.addString(kList, widen(std::to_string(m_instances++)), path);
    registry.addString(u"SYSTEM\\CurrentControlSet\\Enum\\" + path + u"\\Device Parameters",
                       u"PortName", widen(portName));
}

std::vector<std::string> DialogFixture::plugImagers(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back("COM" + std::to_string(3 + m_instances));
        plugImager("7&2A1F&0&" + std::to_string(m_instances), names.back());
    }
    return names;
}

void DialogFixture::unplugAll() {
    services.fakeRegistry().removeKey(kList);
}

}  // namespace qor::testing
