#include "app/flash/station/watch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/flash/command.h"
#include "app/flash/instance_selection.h"
#include "app/flash/json.h"
#include "app/flash/report_sink.h"
#include "app/flash/station/job.h"
#include "app/flash/texts.h"
#include "serial/usb_discovery.h"
#include "text/catalogue.h"
#include "update/csv_report.h"
#include "update/image_header.h"
#include "update/image_path.h"

namespace qor {

namespace {

// As the window polls for imagers.
constexpr uint32_t kPollMs = 250;
// Once every imager the count allows is on its way, the watch waits for
// their ends, each of which wakes it; should no wake-up be possible (the OS
// had no pipe or event to give), it still looks once a second.
constexpr uint32_t kIdleLookMs = 1000;
// How often the end of the imagers in flight is looked for after Ctrl-C.
constexpr auto kDrainPause = std::chrono::milliseconds(50);
// udev applies the port's owner and mode a moment after the tty appears,
// and the watch may open it before: a port seen for less than this that
// refuses to open is tried again at the next look instead of failing.
constexpr auto kPortSettleTime = std::chrono::seconds(2);

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

class StationWatch {
  public:
    StationWatch(const FlashOptions& options, StationContext& context)
        : m_options(options), m_context(context) {}

    int run() {
        if (const int refused = prepare(); refused != 0) {
            return refused;
        }
        for (;;) {
            // The imagers that ended are recorded after the look that
            // follows their end: an imager whose line went dead because it
            // was unplugged is then known to be gone by the time its record
            // is out, so that one plugged in after the record is a new
            // plug-in.
            std::vector<Running> ended = takeFinished();
            if (!ending() && !allTaken()) {
                lookForImagers();
            }
            for (Running& running : ended) {
                settle(std::move(running));
            }
            if (ending()) {
                m_waiting.clear();
                if (m_running.empty()) {
                    break;
                }
                std::this_thread::sleep_for(kDrainPause);
                continue;
            }
            startWaiting();
            if (allTaken()) {
                // Nothing to look for: sleep until an imager's end wakes
                // this thread (or Ctrl-C does).
                m_context.interrupt.waitForRequestOrWake(kIdleLookMs);
            } else {
                // The imagers that end are recorded at the next look, not
                // sooner (see above).
                m_context.interrupt.waitUnlessRequested(kPollMs);
            }
        }
        return summarise();
    }

  private:
    // An imager is its instance on its port: the same instance on another
    // port is a new plug-in.
    using Plug = std::pair<std::string, std::string>;
    using Clock = std::chrono::steady_clock;
    struct Arrival {
        std::string instance;
        std::string port;
        Clock::time_point firstSeen;
        Plug plug() const { return {instance, port}; }
    };
    struct Running {
        std::unique_ptr<StationJob> job;
        Arrival arrival;
    };

    int prepare();
    void lookForImagers();
    void startWaiting();
    std::vector<Running> takeFinished();
    // Records an imager's end, or sends it back to the queue when its port
    // was not ready yet.
    void settle(Running running);
    // Every imager the count allows is on its way: none that comes now
    // will be taken, so there is nothing to look for.
    bool allTaken() const { return m_options.count > 0 && m_started >= m_options.count; }
    bool ending() const {
        return m_context.interrupt.requested() || m_reportBroken ||
               (m_options.count > 0 && m_finished >= m_options.count);
    }
    void record(const StationJob& job, const StationOutcome& outcome);
    int summarise();

    void error(const std::string& text) { m_context.err << "qor-flash: " << text << std::endl; }

    const FlashOptions& m_options;
    StationContext& m_context;
    const InstanceSelection m_selection{m_options.instances};
    FirmwareImage m_image;
    RecordedImage m_recordedImage;
    std::unique_ptr<CsvReport> m_report;
    bool m_reportBroken = false;

    std::set<Plug> m_plugged;       // imagers seen in their current plug-in
    std::deque<Arrival> m_waiting;  // in the order they arrived
    std::vector<Running> m_running;
    bool m_looked = false;
    int m_started = 0;
    int m_finished = 0;
    int m_updated = 0;
    int m_failed = 0;
    int m_interrupted = 0;
};

int StationWatch::prepare() {
    const uint16_t language = m_context.language;
    // Read once for the whole watch: every imager gets the bytes checked
    // here, whatever is copied over the file during the shift.
    switch (LoadFirmwareImage(m_options.image, m_image)) {
        case ImageHeaderResult::CannotOpen:
            error(console_text::imageUnreadable(
                m_options.image, console_text::imageUnreadableReason(m_options.image, language),
                language));
            return flash_exit::kImageRefused;
        case ImageHeaderResult::NotFirmware:
            error(formatText(Situation::InvalidFile, language, kTextCapacity));
            return flash_exit::kImageRefused;
        case ImageHeaderResult::HeaderRead:
            break;
    }
    if (!CheckHeaderWords(m_image.header)) {
        error(formatText(Situation::InvalidFile, language, kTextCapacity));
        return flash_exit::kImageRefused;
    }
    if (!m_options.report.empty()) {
        // Only the report names the image by its digest (of the bytes sent);
        // it costs milliseconds a megabyte.
        m_recordedImage = recordedImage(m_options.image, *m_image.bytes);
        long osError = 0;
        m_report = CsvReport::open(imagePathFromUtf8(m_options.report), osError);
        if (!m_report) {
            error(reportProblem("open", m_options.report, osError));
            return flash_exit::kUsage;
        }
    }
    return 0;
}

void StationWatch::lookForImagers() {
    m_looked = true;
    const auto imagers = ListUsbImagers(m_context.registry);
    if (!imagers) {
        return;  // read in part: nothing is known to have come or gone
    }
    std::set<Plug> present;
    std::set<std::string> unnamed;  // listed, but without a port just now
    const Clock::time_point now = Clock::now();
    for (const UsbImager& imager : *imagers) {
        if (!m_selection.takes(imager.instance)) {
            continue;  // not one of those --instance names
        }
        // One without a port yet is taken once its port is named; one whose
        // port is unnamed for a moment has not gone.
        if (imager.port.empty()) {
            unnamed.insert(imager.instance);
            continue;
        }
        const Plug plug{imager.instance, imager.port};
        present.insert(plug);
        if (m_plugged.insert(plug).second) {
            m_waiting.push_back({imager.instance, imager.port, now});
        }
    }
    // Unplugged: the next time it is seen is a new plug-in. One that waited
    // for its turn has left the queue.
    std::erase_if(m_plugged, [&](const Plug& plug) {
        return !present.contains(plug) && !unnamed.contains(plug.first);
    });
    std::erase_if(m_waiting, [&](const Arrival& a) { return !present.contains(a.plug()); });
}

void StationWatch::startWaiting() {
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (static_cast<int>(m_running.size()) >= m_options.maxDevices ||
            (m_options.count > 0 && m_started >= m_options.count)) {
            return;
        }
        // Plugged in again while its last update still winds down, or on a
        // port a job still holds (whatever its name there): it waits for
        // that one to end.
        const bool busy = std::any_of(m_running.begin(), m_running.end(), [&](const Running& r) {
            return r.job->instance() == it->instance || r.job->port() == it->port;
        });
        if (busy) {
            ++it;
            continue;
        }
        auto job = std::make_unique<StationJob>(m_context.interrupt, m_image, m_context.language,
                                                it->port, it->instance);
        if (m_options.json) {
            m_context.out << JsonObject()
                                 .add("event", "started")
                                 .add("port", it->port)
                                 .add("instance", it->instance)
                                 .str()
                          << std::endl;
        } else if (!m_options.quiet) {
            m_context.out << it->port << " " << it->instance << ": started" << std::endl;
        }
        job->start();
        m_running.push_back({std::move(job), *it});
        ++m_started;
        it = m_waiting.erase(it);
    }
}

std::vector<StationWatch::Running> StationWatch::takeFinished() {
    std::vector<Running> ended;
    for (auto it = m_running.begin(); it != m_running.end();) {
        if (it->job->finished()) {
            ended.push_back(std::move(*it));
            it = m_running.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

void StationWatch::settle(Running running) {
    const StationOutcome outcome = running.job->outcome();
    const Arrival& arrival = running.arrival;
    const bool notReady = outcome.result == StationOutcome::Result::Failed &&
                          (outcome.openProblem == OpenProblem::PermissionDenied ||
                           outcome.openProblem == OpenProblem::NoSuchDevice ||
                           outcome.openProblem == OpenProblem::Busy) &&
                          Clock::now() - arrival.firstSeen < kPortSettleTime;
    if (notReady && !ending() && m_plugged.contains(arrival.plug())) {
        // Still there at the look that followed the failure: it goes first
        // when imagers are next taken.
        m_waiting.push_front(arrival);
        --m_started;
        return;
    }
    record(*running.job, outcome);
    if (outcome.lineGone) {
        // Unplugged and back within one look, or reset by itself: a later
        // look that finds it sees a new plug-in.
        m_plugged.erase(arrival.plug());
    }
}

void StationWatch::record(const StationJob& job, const StationOutcome& outcome) {
    ++m_finished;
    switch (outcome.result) {
        case StationOutcome::Result::Succeeded:
            ++m_updated;
            break;
        case StationOutcome::Result::Failed:
            ++m_failed;
            break;
        case StationOutcome::Result::Interrupted:
            ++m_interrupted;
            break;
    }
    const char* result = resultName(outcome.result);
    if (m_options.json) {
        m_context.out << JsonObject()
                             .add("event", "finished")
                             .add("port", job.port())
                             .add("instance", job.instance())
                             .add("result", result)
                             .add("code", outcome.code)
                             .addNumber("sent", outcome.bytesSent)
                             .addDecimal("seconds", outcome.seconds, 3)
                             .add("message", outcome.message)
                             .str()
                      << std::endl;
    } else if (!m_options.quiet || outcome.result != StationOutcome::Result::Succeeded) {
        m_context.out << job.port() << " " << job.instance() << ": " << result << ", "
                      << outcome.bytesSent << " bytes, " << seconds(outcome.seconds) << " s"
                      << (outcome.message.empty() ? "" : ": ") << outcome.message << std::endl;
    }
    if (m_report && !m_reportBroken) {
        const RunRecord line{std::chrono::system_clock::now(),
                             job.port(),
                             job.instance(),
                             m_recordedImage.name,
                             m_recordedImage.sha256,
                             result,
                             outcome.bytesSent,
                             outcome.seconds,
                             outcome.message,
                             std::string(outcome.code)};
        if (!m_report->append(line)) {
            // No imager may go unrecorded: the watch takes no more.
            error(reportProblem("write", m_options.report, m_report->lastOsError()) +
                  "; the watch ends");
            m_reportBroken = true;
        }
    }
}

int StationWatch::summarise() {
    // A supervisor takes 0 for "the batch is done": stopped before its count
    // (or before it ever looked), the watch says it was stopped, as it does
    // with imagers in flight. Without a count a signal is its only end.
    const bool cutShort = m_context.interrupt.requested() &&
                          (!m_looked || (m_options.count > 0 && m_finished < m_options.count));
    const int code = m_interrupted > 0 || cutShort    ? m_context.interrupt.exitStatus()
                     : m_failed > 0 || m_reportBroken ? flash_exit::kDeviceFailed
                                                      : flash_exit::kSucceeded;
    if (m_options.json) {
        m_context.out << JsonObject()
                             .add("event", "summary")
                             .addNumber("exit", code)
                             .addNumber("updated", m_updated)
                             .addNumber("failed", m_failed)
                             .addNumber("interrupted", m_interrupted)
                             .str()
                      << std::endl;
    } else {
        m_context.out << "updated " << m_updated << ", failed " << m_failed << ", interrupted "
                      << m_interrupted << std::endl;
    }
    return code;
}

}  // namespace

int runStationWatch(const FlashOptions& options, StationContext& context) {
    return StationWatch(options, context).run();
}

}  // namespace qor
