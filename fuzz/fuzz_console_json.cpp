// The JSON output over arbitrary port names, paths and messages: every
// string literal is strict JSON holding the text it was given, and the
// renderer writes exactly one JSON object a line, one line per event.
#include <fuzzer/FuzzedDataProvider.h>

#include <sstream>
#include <string>

#include "app/flash/json.h"
#include "app/flash/progress/renderers.h"
#include "fuzz/fuzz_check.h"
#include "text/text_fit.h"
#include "tools/testkit/json_reader.h"

namespace {

using qor::fuzz::require;
using qor::testing::JsonValue;
using qor::testing::readJson;

// Exactly one JSON object, read strictly (RFC 8259).
bool isJsonObject(std::string_view text) {
    const auto read = readJson(text);
    return read && std::holds_alternative<JsonValue::Object>(read->value);
}

qor::DeviceReport someReport(FuzzedDataProvider& input) {
    qor::DeviceReport report;
    report.device = input.ConsumeIntegralInRange<int>(-1, 7);
    report.port = input.ConsumeRandomLengthString(40);
    report.instance = input.ConsumeRandomLengthString(40);
    report.phase = static_cast<qor::DevicePhase>(
        input.ConsumeIntegralInRange<int>(0, static_cast<int>(qor::DevicePhase::Interrupted)));
    report.sentBytes = input.ConsumeIntegral<uint32_t>();
    report.totalBytes = input.ConsumeIntegral<uint32_t>();
    report.message = input.ConsumeRandomLengthString(300);
    return report;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);

    // A literal holds its text: a repaired copy when it was not UTF-8, up to
    // a NUL as the texts end there everywhere else.
    const std::string text = input.ConsumeRandomLengthString(200);
    const std::string literal = qor::jsonString(text);
    const auto read = readJson(literal);
    require(read && std::holds_alternative<std::string>(read->value),
            "a string literal is strict JSON");
    require(read->text() == qor::fitText(text, text.size() * 3 + 1),
            "a literal reads back as its text");

    const std::string key = input.ConsumeRandomLengthString(20);
    const std::string object = qor::JsonObject()
                                   .add(key, text)
                                   .addNumber(text, input.ConsumeIntegral<int64_t>())
                                   .addBool(key, input.ConsumeBool())
                                   .addNull(text)
                                   .addDecimal(key, input.ConsumeFloatingPoint<double>(), 3)
                                   .str();
    require(isJsonObject(object), "an object is strict JSON");

    std::ostringstream out;
    std::ostringstream err;
    auto sink = qor::makeJsonRenderer(out, err, input.ConsumeBool());
    size_t events = 0;
    while (input.remaining_bytes() > 0 && events < 16) {
        ++events;
        switch (input.ConsumeIntegralInRange<int>(0, 2)) {
            case 0:
                sink->deviceChanged(someReport(input), input.ConsumeBool());
                break;
            case 1: {
                qor::Note note;
                note.kind = static_cast<qor::Note::Kind>(input.ConsumeIntegralInRange<int>(0, 2));
                note.device = input.ConsumeIntegralInRange<int>(-1, 7);
                note.port = input.ConsumeRandomLengthString(40);
                note.text = input.ConsumeRandomLengthString(300);
                sink->note(note);
                break;
            }
            default: {
                qor::RunSummary summary;
                summary.exitCode = input.ConsumeIntegralInRange<int>(0, 255);
                const int devices = input.ConsumeIntegralInRange<int>(0, 6);
                for (int i = 0; i < devices; ++i) {
                    summary.devices.push_back(someReport(input));
                }
                sink->finished(summary);
                break;
            }
        }
    }

    const std::string lines = out.str();
    require(lines.empty() || lines.back() == '\n', "the output ends with a line end");
    size_t count = 0;
    for (size_t start = 0; start < lines.size();) {
        const size_t end = lines.find('\n', start);
        require(isJsonObject(std::string_view(lines).substr(start, end - start)),
                "every line is one JSON object");
        ++count;
        start = end + 1;
    }
    require(count == events, "one line per event");
    return 0;
}
