// The registry walks (the poll's count and the collection of port names)
// over arbitrary registries: values of any type, name and size, data with
// and without its null, failed reads at any index, parameters keys missing
// or holding anything, and a key deleted in the middle of a walk. Every key
// opened is closed, and only what the registry says lands in the table.
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "serial/usb_discovery.h"
#include "serial/usb_registry_paths.h"
#include "tests/support/fake_registry.h"
#include "text/text_fit.h"

namespace {

using qor::fuzz::require;
using qor::testing::FakeRegistry;

std::u16string someText(FuzzedDataProvider& input, size_t maxUnits) {
    std::u16string text;
    const size_t units = input.ConsumeIntegralInRange<size_t>(0, maxUnits);
    for (size_t i = 0; i < units && input.remaining_bytes() > 0; ++i) {
        // Mostly ASCII, sometimes any unit (surrogates and NUL included).
        text += input.ConsumeBool() ? char16_t(input.ConsumeIntegralInRange<int>(0x20, 0x7E))
                                    : input.ConsumeIntegral<char16_t>();
    }
    return text;
}

uint32_t someType(FuzzedDataProvider& input) {
    const uint32_t types[] = {qor::registry_type::kString, qor::registry_type::kString,
                              qor::registry_type::kBinary, qor::registry_type::kDword,
                              qor::registry_type::kNone};
    return input.PickValueInArray(types);
}

FakeRegistry::Bytes someData(FuzzedDataProvider& input, const std::u16string& text) {
    if (input.ConsumeBool()) {
        return FakeRegistry::stringData(text);
    }
    if (input.ConsumeBool()) {
        return FakeRegistry::rawData(text);
    }
    // Any bytes: odd lengths, no null, larger than any buffer.
    return input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 700));
}

std::u16string instancePath(FuzzedDataProvider& input) {
    std::u16string path = input.ConsumeBool()
                              ? u"USB\\" + std::u16string(qor::UsbHardwareId) + u"\\"
                              : u"USB\\VID_1234&PID_5678\\";
    return path + someText(input, input.ConsumeBool() ? 12 : 300);
}

std::u16string parametersKey(const std::u16string& instance) {
    return std::u16string(qor::kDeviceEnumPrefix) + instance +
           std::u16string(qor::kDeviceParametersSuffix);
}

void fill(FuzzedDataProvider& input, FakeRegistry& registry) {
    const std::u16string list(qor::kUsbSerialListPath);
    if (input.ConsumeIntegralInRange<int>(0, 15) != 0) {
        registry.addKey(list);
    }
    const size_t values = input.ConsumeIntegralInRange<size_t>(0, 12);
    for (size_t i = 0; i < values; ++i) {
        const std::u16string instance = instancePath(input);
        const std::u16string name =
            input.ConsumeBool() ? std::u16string(1, u'0' + char16_t(i % 10)) : someText(input, 300);
        registry.addValue(list, name, someType(input), someData(input, instance));
        if (input.ConsumeIntegralInRange<int>(0, 7) == 0) {
            continue;  // no parameters key
        }
        const std::u16string key = parametersKey(instance);
        registry.addKey(key);
        const size_t entries = input.ConsumeIntegralInRange<size_t>(0, 3);
        for (size_t e = 0; e < entries; ++e) {
            const std::u16string valueName =
                input.ConsumeBool() ? std::u16string(qor::kPortNameValue) : someText(input, 20);
            const std::u16string port =
                input.ConsumeBool() ? u"COM" + someText(input, 14) : someText(input, 20);
            registry.addValue(key, valueName, someType(input), someData(input, port));
        }
    }
    const size_t failures = input.ConsumeIntegralInRange<size_t>(0, 2);
    for (size_t f = 0; f < failures; ++f) {
        const qor::RegistryResult results[] = {qor::RegistryResult::MoreData,
                                               qor::RegistryResult::OtherError,
                                               qor::RegistryResult::NoMoreItems};
        registry.failRead(input.ConsumeBool() ? list : parametersKey(instancePath(input)),
                          input.ConsumeIntegralInRange<uint32_t>(0, 12),
                          input.PickValueInArray(results));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FakeRegistry registry;
    fill(input, registry);
    // A device unplugged in the middle of a walk: its key goes at a read.
    const bool unplug = input.ConsumeIntegralInRange<int>(0, 3) == 0;
    const uint32_t unplugAt = input.ConsumeIntegralInRange<uint32_t>(0, 12);
    const bool unplugList = input.ConsumeBool();
    if (unplug) {
        registry.onRead(
            [&registry, unplugAt, unplugList](std::u16string_view path, uint32_t index) {
                const bool isList = path == qor::kUsbSerialListPath;
                if (index == unplugAt && isList == unplugList) {
                    registry.removeKey(std::u16string(path));
                }
            });
    }

    const uint8_t count = qor::CountUsbDevices(registry);
    require(registry.openKeyCount() == 0, "the count closes the list");

    qor::PortNameTable table;
    table.fill("(unset)");
    const uint8_t collected = qor::CollectUsbPorts(registry, table);
    require(registry.openKeyCount() == 0, "the collection closes every key");
    require(collected <= qor::kPortNameTableSize, "at most eight imagers");
    if (!unplug && collected > 0) {
        require(count == 0 || collected == std::min<uint8_t>(count, qor::kPortNameTableSize),
                "the collection goes through the imagers counted");
    }
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i] == "(unset)") {
            continue;
        }
        // A collection that fails half-way returns 0 and leaves the entries
        // it wrote before (the caller then looks at none of them).
        require(collected == 0 || i < collected, "no entry past the imagers gone through");
        require(qor::fitText(table[i], 64) == table[i] && !table[i].empty(),
                "an entry is valid UTF-8 with no NUL");
        require(qor::utf16Length(table[i]) < 16, "an entry fits fifteen characters");
        require(table[i].find("COM") != std::string::npos, "an entry has the form of a port name");
    }
    return 0;
}
