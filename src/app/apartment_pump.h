#pragma once
// Runs the calls queued in the user-interface apartment (server callbacks taken off the
// connection thread) on the Qt event loop: whenever the apartment's event descriptor turns
// readable, the queue is drained on the application's thread.

#include <cstddef>

#include <QObject>

class Apartment;
class QSocketNotifier;

class CApartmentPump final : public QObject {
    Q_OBJECT

  public:
    // Watches the apartment (the process's UI apartment by default) until destroyed.
    explicit CApartmentPump(Apartment& apartment, QObject* parent = nullptr);
    explicit CApartmentPump(QObject* parent = nullptr);
    ~CApartmentPump() override;
    CApartmentPump(const CApartmentPump&) = delete;
    CApartmentPump& operator=(const CApartmentPump&) = delete;

    // Calls that left by an exception (traced, not rethrown: an exception must not cross the
    // event loop).
    std::size_t CallsFailed() const { return callsFailed_; }

  private:
    void Pump();

    Apartment& apartment_;
    QSocketNotifier* notifier_;
    std::size_t callsFailed_ = 0;
};
