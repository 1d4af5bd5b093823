#ifndef FAILURE_H
#define FAILURE_H

#include "exitstatus.h"

#include <QString>

#include <optional>
#include <utility>

// Why something could not be done: the exit status it ends the program with, and what to tell
// the user. Functions return it instead of printing; main() prints it.
struct Failure
{
    ExitStatus status = ExitStatus::NetworkUnusable;
    QString message;
};

// A value, or the failure that kept it from being made.
template<typename T> class Expected
{
public:
    Expected(T value)
        : m_value(std::move(value))
    { }
    Expected(Failure failure)
        : m_failure(std::move(failure))
    { }

    explicit operator bool() const { return m_value.has_value(); }
    const T &operator*() const { return *m_value; }
    T &operator*() { return *m_value; }
    const T *operator->() const { return &*m_value; }
    const Failure &failure() const { return m_failure; }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

#endif // FAILURE_H
