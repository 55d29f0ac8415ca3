#pragma once
// A local connection to another program, through which the quit request is
// sent. Every failure is a false (or -1) result, never an exception.
#include <cstddef>
#include <cstdint>
#include <string>

class LocalSocket {
public:
    explicit LocalSocket(std::string name) : name_(std::move(name)) {}
    virtual ~LocalSocket() = default;
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;

    // False when already open, or when the peer cannot be reached; a busy peer is
    // not waited for beyond a short bound.
    virtual bool Connect() = 0;
    virtual void Close() = 0;
    // Reads exactly `length` bytes.
    virtual bool Read(void* data, std::size_t length) = 0;
    // Writes all `length` bytes; length 0 on an open connection is true at once.
    virtual bool Write(const void* data, std::size_t length) = 0;
    // Waits until data is waiting or `timeoutMs` has passed (negative: no limit).
    virtual bool WaitForData(std::int32_t timeoutMs, bool* timedOut = nullptr) = 0;
    // Bytes waiting to be read; -1 when not open or the connection failed.
    virtual std::int32_t BytesAvailable() = 0;
    virtual bool IsOpen() const = 0;

    const std::string& name() const { return name_; }

private:
    std::string name_;
};
