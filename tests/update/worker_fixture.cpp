#include "tests/update/worker_fixture.h"

#include <algorithm>

#include "update/update_worker.h"

namespace qor::testing {

WorkerFixture::WorkerFixture(int devices) : imagers(static_cast<std::size_t>(devices)) {
    dialog.selectMode(IDC_RADIO_USB);
    state().DeviceCount = static_cast<uint8_t>(devices);
    for (int device = 0; device < devices; ++device) {
        state().PortNameTable[static_cast<std::size_t>(device)] = portName(device);
        imagers[static_cast<std::size_t>(device)].attach(line(device));
    }
    useImage(sim::sampleImage(4 * 1024));
}

WorkerFixture::~WorkerFixture() {
    // A test that failed half-way may have left workers in held boxes.
    window().releaseAllBoxes();
    dialog.waitForRunsClosed(runsStarted, kThreadTimeout);
}

void WorkerFixture::useImage(std::vector<uint8_t> bytes) {
    image = std::move(bytes);
    // As a run's check leaves it: the path chosen and the bytes read.
    state().FirmwarePath = dir.write("image.bin", image).string();
    state().FirmwareBytes = std::make_shared<const std::vector<uint8_t>>(image);
}

unsigned WorkerFixture::runOneWorker() {
    state().SuccessCount = 0;
    state().runningWorkers = 1;
    ++runsStarted;
    return UpdateThreadProc(new WorkerArgs{&dialog, 0});
}

std::vector<std::string> WorkerFixture::labelTexts(int device) {
    const std::string prefix = "text " + std::to_string(rowLabelId(device)) + " ";
    std::vector<std::string> texts;
    for (const std::string& line : window().journalOf(prefix)) {
        texts.push_back(line.substr(prefix.size()));
    }
    return texts;
}

std::vector<int> WorkerFixture::barPositions(int device) {
    const std::string prefix = "pos " + std::to_string(progressBarId(device)) + " ";
    std::vector<int> positions;
    for (const std::string& line : window().journalOf(prefix)) {
        positions.push_back(std::stoi(line.substr(prefix.size())));
    }
    return positions;
}

long WorkerFixture::journalIndex(const std::string& line, std::size_t from) {
    const std::vector<std::string> journal = window().journal();
    const auto found = std::find(
        journal.begin() + static_cast<long>(std::min(from, journal.size())), journal.end(), line);
    return found == journal.end() ? -1 : static_cast<long>(found - journal.begin());
}

}  // namespace qor::testing
