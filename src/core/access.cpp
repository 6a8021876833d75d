#include "access.hpp"

namespace tolvat::access_detail {
namespace {

// Records are never freed: a thread that ends hands its record back for the next thread.
constexpr std::size_t kMaxRecords = 1024;
ReaderRecord g_records[kMaxRecords];
std::atomic<std::size_t> g_records_used{0};  // high-water mark of records ever handed out

ReaderRecord* claim_record() noexcept {
    const std::size_t used = g_records_used.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < used; ++i) {
        bool expected = false;
        if (g_records[i].in_use.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            return &g_records[i];
        }
    }
    for (;;) {
        std::size_t i = g_records_used.load(std::memory_order_acquire);
        if (i >= kMaxRecords) return nullptr;
        bool expected = false;
        if (g_records[i].in_use.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            // Publish the record before any of its slots can be used.
            std::size_t seen = i;
            while (seen <= i && !g_records_used.compare_exchange_weak(seen, i + 1, std::memory_order_acq_rel)) {
            }
            return &g_records[i];
        }
        // Another thread took record i; make sure the mark moves past it and try the next one.
        std::size_t seen = i;
        g_records_used.compare_exchange_strong(seen, i + 1, std::memory_order_acq_rel);
    }
}

// Hands this thread's record back when the thread ends.
struct RecordLease {
    ReaderRecord* record = nullptr;
    ~RecordLease();
};

// The lease, which has a destructor, is touched only when a record is claimed.
thread_local RecordLease t_lease;

RecordLease::~RecordLease() {
    if (record != nullptr) {
        t_record = nullptr;
        record->depth = 0;
        record->in_use.store(false, std::memory_order_release);
    }
}

}  // namespace

constinit thread_local ReaderRecord* t_record = nullptr;

ReaderRecord* claim_this_thread_record() noexcept {
    if (t_lease.record == nullptr) {
        t_lease.record = claim_record();
        t_record = t_lease.record;
    }
    return t_lease.record;
}

bool announced_by_a_reader(const AccessCounter* counter) noexcept {
    const std::size_t used = g_records_used.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < used; ++i) {
        for (const auto& slot : g_records[i].slots) {
            if (slot.load(std::memory_order_seq_cst) == counter) return true;
        }
    }
    return false;
}

}  // namespace tolvat::access_detail
