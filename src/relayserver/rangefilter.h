#pragma once

#include <QtGlobal>

#include <cmath>
#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

namespace airmesh {
inline namespace relayserver {

// Who hears whose positions when the server carries pilots all over the world: a pilot's
// positions go to the pilots within a range of his last known position (great-circle
// distance), and to every pilot whose position is not known; a pilot whose position is not
// known is heard by everybody.
//
// The pilots with a position sit in a grid of cells: latitude bands as high as the range, each
// cut into as many longitude cells as fit with each cell at least that wide at the band's
// poleward edge (near a pole a band is one cell). A look-up visits the bands within the range
// north and south and, in each, the cells within the longitudes the range can reach there, so
// its cost grows with the pilots nearby, not with all pilots.
class RangeFilter {
public:
    using Id = quint64;

    // rangeNm > 0.
    explicit RangeFilter(double rangeNm);

    double rangeNm() const { return m_rangeNm; }
    // Adds a pilot, or moves him: to his position, or among the pilots without one.
    void place(Id id, std::optional<double> latDeg, std::optional<double> lonDeg);
    void remove(Id id);
    bool contains(Id id) const { return m_where.contains(id); }
    std::size_t size() const { return m_where.size(); }

    // Calls f(id) for every pilot who gets `from`'s positions (never `from` himself). `from`
    // must have been placed.
    template <class F> void forEachRecipient(Id from, F&& f) const;

private:
    struct Entry {
        Id id;
        double latDeg, lonDeg;
    };
    struct Where {
        qint64 cell;      // kNoCell: among the pilots without position
        std::size_t slot; // index in that cell's (or the unplaced) list
        double latDeg = 0, lonDeg = 0;
    };
    static constexpr qint64 kNoCell = -1;
    static constexpr double kPolarDeg = 89.999;
    static constexpr double kRadPerDeg = 3.14159265358979323846 / 180.0;

    int bandOf(double latDeg) const;
    int columnsOf(int band) const { return m_columns[static_cast<std::size_t>(band)]; }
    int columnOf(int band, double lonDeg) const;
    static qint64 key(int band, int column) { return qint64(band) << 32 | column; }
    void unlink(const Where& w);
    std::vector<Entry>& listOf(qint64 cell);
    // The cells of the bands and longitudes that points within range of (lat, lon) may lie in.
    template <class F> void forEachNearCell(double latDeg, double lonDeg, F&& f) const;

    double m_rangeNm;
    double m_bandDeg;
    int m_bands;
    std::vector<int> m_columns; // per band
    std::unordered_map<qint64, std::vector<Entry>> m_cells;
    std::vector<Entry> m_unplaced;
    std::unordered_map<Id, Where> m_where;
};

// Great-circle distance; declared here so the template below needs no other header.
double rangeFilterDistanceNm(double lat1Deg, double lon1Deg, double lat2Deg, double lon2Deg);

template <class F> void RangeFilter::forEachNearCell(double latDeg, double lonDeg, F&& f) const {
    const double reachDeg = m_rangeNm / 60.0; // one nautical mile is one minute of latitude
    const int first = bandOf(latDeg - reachDeg);
    const int last = bandOf(latDeg + reachDeg);
    // Along any path of the range's length the latitude stays within reachDeg of the start, so
    // the longitude can change at most by reach / cos(the most poleward latitude it meets).
    const double poleward = std::abs(latDeg) + reachDeg;
    const double lonReachDeg = poleward >= kPolarDeg ? 360.0 : reachDeg / std::cos(poleward * kRadPerDeg);
    for (int band = first; band <= last; ++band) {
        const int columns = columnsOf(band);
        int from = 0;
        int count = columns;
        if (lonReachDeg < 180.0) {
            from = columnOf(band, lonDeg - lonReachDeg);
            const int to = columnOf(band, lonDeg + lonReachDeg);
            count = (to - from + columns) % columns + 1; // across the date line it wraps
            if (columns > 1 && count == 1 && lonReachDeg * 2 >= 360.0 / columns) {
                count = columns; // both ends in one cell only because the reach wrapped round
            }
        }
        for (int i = 0; i < count; ++i) {
            const auto it = m_cells.find(key(band, (from + i) % columns));
            if (it != m_cells.end()) {
                f(it->second);
            }
        }
    }
}

template <class F> void RangeFilter::forEachRecipient(Id from, F&& f) const {
    const auto self = m_where.find(from);
    if (self == m_where.end()) {
        return;
    }
    for (const Entry& e : m_unplaced) {
        if (e.id != from) {
            f(e.id);
        }
    }
    if (self->second.cell == kNoCell) {
        for (const auto& [cell, entries] : m_cells) {
            for (const Entry& e : entries) {
                f(e.id);
            }
        }
        return;
    }
    const double lat = self->second.latDeg;
    const double lon = self->second.lonDeg;
    forEachNearCell(lat, lon, [&](const std::vector<Entry>& entries) {
        for (const Entry& e : entries) {
            if (e.id != from && rangeFilterDistanceNm(lat, lon, e.latDeg, e.lonDeg) <= m_rangeNm) {
                f(e.id);
            }
        }
    });
}

} // namespace relayserver
} // namespace airmesh
