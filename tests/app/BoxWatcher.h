#pragma once
// Finds the message boxes a window opens and closes them, also the ones that
// open inside another box's event loop. Each expected box is handed to its
// handler first; every box seen is recorded.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>

class TBoxWatcher {
public:
    struct TSeen {
        QString Title;
        QString Text;
        QMessageBox::Icon Icon;
    };
    using THandler = std::function<void(QMessageBox* Box)>;

    TBoxWatcher() { Poll(); }
    ~TBoxWatcher() { *FAlive = false; }
    TBoxWatcher(const TBoxWatcher&) = delete;
    TBoxWatcher& operator=(const TBoxWatcher&) = delete;

    // The next box that opens goes to Handler and is closed when it returns.
    void Expect(THandler Handler = {}) { FHandlers.push_back(std::move(Handler)); }
    const QList<TSeen>& Seen() const { return FSeen; }
    int Pending() const { return int(FHandlers.size()); }

private:
    void Poll() {
        // A fresh single shot each time: a timer is never re-entered from its own
        // slot, and a box can open inside a handler.
        std::shared_ptr<bool> Alive = FAlive;
        QTimer::singleShot(10, [this, Alive] {
            if (!*Alive)
                return;
            Poll();
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!Box || FHandling.contains(Box))
                return;
            FHandling.append(Box);
            FSeen.append({Box->windowTitle(), Box->text(), Box->icon()});
            THandler Handler;
            if (!FHandlers.empty()) {
                Handler = std::move(FHandlers.front());
                FHandlers.pop_front();
            }
            QPointer<QMessageBox> Guard(Box);
            if (Handler)
                Handler(Box);
            if (Guard)
                Guard->done(QMessageBox::Ok);
            FHandling.removeOne(Box);
        });
    }

    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    std::deque<THandler> FHandlers;
    QList<QMessageBox*> FHandling;
    QList<TSeen> FSeen;
};
