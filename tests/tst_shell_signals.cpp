// Termination signals reach the GUI thread as a Qt signal.
#include "terminationsignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestShellSignals : public QObject
{
    Q_OBJECT

private slots:
    void terminationSignalIsDeliveredInTheGuiThread_data();
    void terminationSignalIsDeliveredInTheGuiThread();
    void secondInstanceStaysInactive();
    void destroyingRestoresTheDefaultActions();
};

namespace {

bool hasDefaultAction(int signalNumber)
{
    struct sigaction current = {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

} // namespace

void TestShellSignals::terminationSignalIsDeliveredInTheGuiThread_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl+C") << int(SIGINT);
    QTest::newRow("stop request") << int(SIGTERM);
    QTest::newRow("terminal gone") << int(SIGHUP);
}

void TestShellSignals::terminationSignalIsDeliveredInTheGuiThread()
{
    QFETCH(int, signalNumber);
    TerminationSignals termination;
    QVERIFY(termination.isActive());
    QVERIFY(!hasDefaultAction(signalNumber));
    QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);

    // Without the handler this would end the test program.
    QCOMPARE(std::raise(signalNumber), 0);
    QVERIFY(requested.wait(2000));
    QCOMPARE(requested.count(), 1);
    QCOMPARE(requested.at(0).at(0).toInt(), signalNumber);
    // A second signal of that kind would end the process at once.
    QVERIFY(hasDefaultAction(signalNumber));
}

void TestShellSignals::secondInstanceStaysInactive()
{
    TerminationSignals first;
    QTest::ignoreMessage(QtWarningMsg, "TerminationSignals: only one instance can be active");
    TerminationSignals second;
    QVERIFY(first.isActive());
    QVERIFY(!second.isActive());
}

void TestShellSignals::destroyingRestoresTheDefaultActions()
{
    {
        TerminationSignals termination;
        QVERIFY(!hasDefaultAction(SIGTERM));
    }
    QVERIFY(hasDefaultAction(SIGINT));
    QVERIFY(hasDefaultAction(SIGTERM));
    QVERIFY(hasDefaultAction(SIGHUP));
    // A fresh instance works again after the first is gone.
    TerminationSignals again;
    QVERIFY(again.isActive());
}

QTEST_MAIN(TestShellSignals)
#include "tst_shell_signals.moc"
