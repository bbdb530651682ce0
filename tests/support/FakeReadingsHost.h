#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/logic/Readings.h"
#include "app/logic/UploadSink.h"

namespace pom::test {

// Records what the measurement handlers and the upload queue's sink do to
// the window.
class FakeReadingsHost : public ReadingsHost, public UploadQueueHost {
public:
    struct Point {
        int series;
        double time;
        double value;
        bool operator==(const Point&) const = default;
    };

    std::string stamp = "2023-05-01 12:00:00 ";
    int valueCount = -1;
    int postInterval = 300;
    bool uploadChecked = true;
    bool queueFails = false;
    std::vector<std::string> log, web, queue, status;
    std::vector<Point> points;
    std::string mac;
    std::vector<int> uploadIntervals;
    BarometerLabels labels;
    int labelUpdates = 0;
    int shifts = 0;

    // Forgets what was recorded (benchmarks keep their memory flat).
    void Clear() {
        log.clear();
        web.clear();
        queue.clear();
        status.clear();
        points.clear();
        uploadIntervals.clear();
    }

    std::string Stamp() override { return stamp; }
    void AppendLog(std::string line) override { log.push_back(std::move(line)); }
    int ValueCount() const override { return valueCount; }
    void SetValueCount(int n) override { valueCount = n; }
    int PostInterval() const override { return postInterval; }
    void AddPoint(int series, int colorIndex, double time, double value) override {
        if (colorIndex != series) throw std::logic_error("colour index differs from series");
        points.push_back({series, time, value});
    }
    void SetMacText(const std::string& text) override { mac = text; }
    // Moves the recorded points as the chart moves its series.
    void ShiftSeries(int first, int count, int by) override {
        ++shifts;
        std::vector<Point> kept;
        for (Point p : points) {
            if (p.series >= first && p.series < first + count) p.series += by;
            if (p.series < Readings::kSeries) kept.push_back(p);
        }
        points = std::move(kept);
    }
    bool UploadChecked() const override { return uploadChecked; }
    std::size_t AppendToUploadQueue(const std::string& entry) override {
        if (queueFails) throw std::runtime_error("disk full");
        queue.push_back(entry);
        return queue.size();
    }
    void AppendWeb(const std::string& line) override { web.push_back(line); }
    void SetUploadInterval(int ms) override { uploadIntervals.push_back(ms); }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    void ShowBarometerLabels(const BarometerLabels& l) override {
        labels = l;
        ++labelUpdates;
    }
};

}  // namespace pom::test
