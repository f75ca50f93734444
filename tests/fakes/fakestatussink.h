#pragma once

#include "hangar/hangar.h"
#include "hangar/hangarscan.h"

#include <QList>
#include <QPair>

namespace airmesh {

// Where the hangar scan shows its status: writes down each text with the number of aircraft
// the hangar held when it was shown.
class FakeStatusSink final : public StatusSink {
public:
    explicit FakeStatusSink(const Hangar& h) : m_hangar(h) {}
    void setStatus(const QString& text) override { shown.append({text, m_hangar.Count()}); }
    QList<QPair<QString, int>> shown;

private:
    const Hangar& m_hangar;
};

} // namespace airmesh
