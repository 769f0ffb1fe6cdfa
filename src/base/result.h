#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// What kind of failure an operation met. The texts the user sees are made from it (and from the
// detail) where they are shown or stored, never here.
enum class TErrc {
    Io,       // a file or folder could not be read or written; the detail is the system's reason
    Damaged,  // a stored file holds something that cannot be read back
    Locked,   // another process holds the working folder
    NoReply,  // a request got no response
    BadReply, // a response arrived but is not what was asked for (status, type, size)
    Stopped,  // the user or the shutdown stopped the work
    Refused,  // the input is not allowed (an address scheme, a name, an argument)
};

struct TError {
    TErrc Code = TErrc::Io;
    QString Detail;
};

// The outcome of an operation that can fail: a value, or an error with its code and detail.
template <typename T> class [[nodiscard]] TResult {
  public:
    TResult(T value) : m_v(std::move(value)) {}
    TResult(TError error) : m_v(std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(m_v); }
    T& value() & { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }
    const TError& error() const { return std::get<1>(m_v); }
    T value_or(T fallback) const { return ok() ? value() : fallback; }

  private:
    std::variant<T, TError> m_v;
};

template <> class [[nodiscard]] TResult<void> {
  public:
    TResult() = default;
    TResult(TError error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const TError& error() const { return *m_error; }

  private:
    std::optional<TError> m_error;
};

using TStatus = TResult<void>;

inline TError MakeError(TErrc code, const QString& detail = QString()) {
    return TError{code, detail};
}
