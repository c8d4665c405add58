#include "app/apartment_pump.h"

#include <exception>

#include <QSocketNotifier>

#include "com/apartment.h"
#include "framework/ui_services.h"

CApartmentPump::CApartmentPump(Apartment& apartment, QObject* parent)
    : QObject(parent),
      apartment_(apartment),
      notifier_(new QSocketNotifier(apartment.EventFd(), QSocketNotifier::Read, this)) {
    connect(notifier_, &QSocketNotifier::activated, this, &CApartmentPump::Pump);
}

CApartmentPump::CApartmentPump(QObject* parent) : CApartmentPump(Apartment::Ui(), parent) {}

CApartmentPump::~CApartmentPump() = default;

void CApartmentPump::Pump() {
    // A call that throws leaves the drain with the calls after it still queued: they run in the
    // next round, so one faulty callback does not stop the others.
    for (;;) {
        try {
            apartment_.Drain();
            return;
        } catch (const std::exception& error) {
            ++callsFailed_;
            Trace("A queued call failed: %s\n", error.what());
        } catch (...) {
            ++callsFailed_;
            Trace(std::string_view("A queued call failed.\n"));
        }
    }
}
