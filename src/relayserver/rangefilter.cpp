#include "rangefilter.h"

#include "wire/positionblock.h"

#include <algorithm>

namespace airmesh {
inline namespace relayserver {

namespace {

// Bands lower than this would only multiply the cells without making a look-up cheaper.
constexpr double kMinBandDeg = 0.05;

} // namespace

double rangeFilterDistanceNm(double lat1Deg, double lon1Deg, double lat2Deg, double lon2Deg) {
    return wire::distanceNm(lat1Deg, lon1Deg, lat2Deg, lon2Deg);
}

RangeFilter::RangeFilter(double rangeNm)
    : m_rangeNm(rangeNm), m_bandDeg(std::clamp(rangeNm / 60.0, kMinBandDeg, 180.0)),
      m_bands(std::max(1, static_cast<int>(std::ceil(180.0 / m_bandDeg)))) {
    m_columns.reserve(static_cast<std::size_t>(m_bands));
    for (int band = 0; band < m_bands; ++band) {
        const double south = -90.0 + band * m_bandDeg;
        const double north = std::min(90.0, south + m_bandDeg);
        const double poleward = std::max(std::abs(south), std::abs(north));
        int columns = 1;
        if (poleward < kPolarDeg) {
            // Each cell at least a band's height wide at the band's poleward edge.
            const double minWidthDeg = m_bandDeg / std::cos(poleward * kRadPerDeg);
            columns = std::max(1, static_cast<int>(std::floor(360.0 / minWidthDeg)));
        }
        m_columns.push_back(columns);
    }
}

int RangeFilter::bandOf(double latDeg) const {
    const double lat = std::clamp(latDeg, -90.0, 90.0);
    return std::clamp(static_cast<int>(std::floor((lat + 90.0) / m_bandDeg)), 0, m_bands - 1);
}

int RangeFilter::columnOf(int band, double lonDeg) const {
    const int columns = columnsOf(band);
    double x = std::fmod(lonDeg + 180.0, 360.0);
    if (x < 0) {
        x += 360.0;
    }
    return std::clamp(static_cast<int>(std::floor(x * columns / 360.0)), 0, columns - 1);
}

std::vector<RangeFilter::Entry>& RangeFilter::listOf(qint64 cell) {
    return cell == kNoCell ? m_unplaced : m_cells[cell];
}

void RangeFilter::unlink(const Where& w) {
    std::vector<Entry>& list = listOf(w.cell);
    // The last entry takes the leaving one's slot.
    if (w.slot + 1 != list.size()) {
        list[w.slot] = list.back();
        m_where.at(list[w.slot].id).slot = w.slot;
    }
    list.pop_back();
    if (list.empty() && w.cell != kNoCell) {
        m_cells.erase(w.cell);
    }
}

void RangeFilter::place(Id id, std::optional<double> latDeg, std::optional<double> lonDeg) {
    const bool known = latDeg && lonDeg && std::isfinite(*latDeg) && std::isfinite(*lonDeg);
    Where w{kNoCell, 0, known ? std::clamp(*latDeg, -90.0, 90.0) : 0.0, known ? *lonDeg : 0.0};
    if (known) {
        const int band = bandOf(w.latDeg);
        w.cell = key(band, columnOf(band, w.lonDeg));
    }
    if (const auto it = m_where.find(id); it != m_where.end()) {
        if (it->second.cell == w.cell) {
            // Same cell: only the coordinates change.
            Entry& e = listOf(w.cell)[it->second.slot];
            e.latDeg = w.latDeg;
            e.lonDeg = w.lonDeg;
            it->second.latDeg = w.latDeg;
            it->second.lonDeg = w.lonDeg;
            return;
        }
        unlink(it->second);
        m_where.erase(it);
    }
    std::vector<Entry>& list = listOf(w.cell);
    w.slot = list.size();
    list.push_back(Entry{id, w.latDeg, w.lonDeg});
    m_where.emplace(id, w);
}

void RangeFilter::remove(Id id) {
    const auto it = m_where.find(id);
    if (it == m_where.end()) {
        return;
    }
    const Where w = it->second;
    m_where.erase(it);
    unlink(w);
}

} // namespace relayserver
} // namespace airmesh
