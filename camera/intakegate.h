#ifndef INTAKEGATE_H
#define INTAKEGATE_H

#include <QtGlobal>

/*
 * Whether frames may enter a store of bounded bytes, with hysteresis. Once a
 * frame is refused because it would pass the limit, the gate stays shut until
 * what the store holds falls below the low mark. Without it every written
 * batch would let in a frame or two, the next refusal would close the batch
 * they began, and under sustained overload the files would shrink to single
 * frames, each paying a whole file's fixed cost. Shut, it sheds a whole run
 * of frames at once and the batches between the runs fill up. Not
 * thread-safe: its owner serialises the calls.
 */
class IntakeGate
{
public:
    IntakeGate(qint64 limit, qint64 lowMark);

    // Whether `bytes` more may join `held`: the gate opens again first when
    // held is below the low mark, and shuts when the bytes do not fit.
    bool admit(qint64 held, qint64 bytes);
    // What admit() would answer, changing nothing.
    bool wouldAdmit(qint64 held, qint64 bytes) const;
    bool isShut() const { return m_shut; }
    // A new run starts with the gate open.
    void open() { m_shut = false; }

    qint64 limit() const { return m_limit; }
    qint64 lowMark() const { return m_lowMark; }

private:
    bool canReopen(qint64 held) const;

    qint64 m_limit;
    qint64 m_lowMark;
    bool m_shut = false;
};

#endif // INTAKEGATE_H
