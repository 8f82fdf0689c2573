#include "small_thread.h"

#include <memory>
#include <system_error>
#include <utility>

namespace talvorine::server {

namespace {

void* RunBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}

// Owns a pthread attribute object for the duration of one thread creation.
class ThreadAttributes {
public:
    explicit ThreadAttributes(std::size_t stackSize) {
        Check(pthread_attr_init(&m_attributes));
        m_initialised = true;
        Check(pthread_attr_setstacksize(&m_attributes, stackSize));
    }
    ~ThreadAttributes() {
        if (m_initialised) {
            pthread_attr_destroy(&m_attributes);
        }
    }
    ThreadAttributes(const ThreadAttributes&) = delete;
    ThreadAttributes& operator=(const ThreadAttributes&) = delete;

    const pthread_attr_t* Get() const { return &m_attributes; }

    static void Check(int result) {
        if (result != 0) {
            throw std::system_error(result, std::generic_category(), "pthread");
        }
    }

private:
    pthread_attr_t m_attributes{};
    bool m_initialised = false;
};

}  // namespace

SmallThread::SmallThread(std::function<void()> body, std::size_t stackSize) {
    ThreadAttributes attributes(stackSize);
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    ThreadAttributes::Check(pthread_create(&m_thread, attributes.Get(), RunBody, owned.get()));
    owned.release();  // the new thread owns it now
    m_joinable = true;
}

SmallThread::SmallThread(SmallThread&& other) noexcept
    : m_thread(other.m_thread), m_joinable(std::exchange(other.m_joinable, false)) {}

SmallThread& SmallThread::operator=(SmallThread&& other) noexcept {
    if (this != &other) {
        if (m_joinable) {
            Join();
        }
        m_thread = other.m_thread;
        m_joinable = std::exchange(other.m_joinable, false);
    }
    return *this;
}

SmallThread::~SmallThread() {
    if (m_joinable) {
        Join();
    }
}

void SmallThread::Join() {
    if (m_joinable) {
        pthread_join(m_thread, nullptr);
        m_joinable = false;
    }
}

void SmallThread::Detach() {
    if (m_joinable) {
        pthread_detach(m_thread);
        m_joinable = false;
    }
}

}  // namespace talvorine::server
