#include "pdf/engine/object_cache.h"

namespace ferretta::pdf {

void ObjectCache::p2tObjCacheInit() {
    m_entries.assign(101, ObjectRecord{});
    m_count = 0;
    m_primary.assign(static_cast<std::size_t>(primaryBuckets), {0, 0, 0, 0});
    for (auto& bucket : m_overflow)
        bucket.clear();
}

std::int32_t ObjectCache::p2tAddObjCache(std::int16_t file, std::int32_t objectNumber,
                                         std::int32_t generation, std::int64_t address,
                                         std::string_view objType) {
    ObjectRecord record;
    record.fileNumber = file;
    record.objectNumber = objectNumber;
    record.generation = generation;
    record.objType = std::string(objType);
    record.address = address;
    return add(std::move(record));
}

std::int32_t ObjectCache::addCompressed(std::int16_t file, std::int32_t objectNumber,
                                        std::int32_t streamNumber, std::int32_t indexInStream) {
    ObjectRecord record;
    record.fileNumber = file;
    record.objectNumber = objectNumber;
    record.generation = 0;
    record.address = -1;
    record.streamNumber = streamNumber;
    record.indexInStream = indexInStream;
    return add(std::move(record));
}

std::int32_t ObjectCache::add(ObjectRecord&& record) {
    if (record.objectNumber < 0 || m_count >= maxEntries)
        return -1;
    const std::int32_t e = m_count + 1;
    if (static_cast<std::size_t>(e) >= m_entries.size()) {
        // Grow by half rather than by 100 records: the same contents, without quadratic copying.
        m_entries.resize(m_entries.size() + m_entries.size() / 2 + 100);
    }
    const std::int32_t number = record.objectNumber;
    const std::int32_t generation = record.generation;
    m_entries[static_cast<std::size_t>(e)] = std::move(record);
    auto& bucket = m_primary[static_cast<std::size_t>(number % primaryBuckets)];
    if (bucket[primarySlots - 1] == 0) {
        for (auto& slot : bucket) {
            if (slot == 0) {
                slot = e;
                break;
            }
        }
    } else {
        m_overflow[static_cast<std::size_t>(number % overflowBuckets)].emplace(
            key(number, generation), e);
    }
    m_count = e;
    return e;
}

std::int32_t ObjectCache::p2tSearchObjCache(std::int16_t file, std::int32_t objectNumber,
                                            std::int32_t generation) const {
    if (objectNumber < 0)
        return -1;
    for (std::int32_t e : m_primary[static_cast<std::size_t>(objectNumber % primaryBuckets)]) {
        if (e == 0)
            return -1;  // slots fill from the front: an empty one ends the bucket
        const ObjectRecord& r = m_entries[static_cast<std::size_t>(e)];
        if (r.fileNumber == file && r.objectNumber == objectNumber && r.generation == generation)
            return e;
    }
    const auto& bucket = m_overflow[static_cast<std::size_t>(objectNumber % overflowBuckets)];
    auto [first, last] = bucket.equal_range(key(objectNumber, generation));
    for (auto it = first; it != last; ++it) {
        if (m_entries[static_cast<std::size_t>(it->second)].fileNumber == file)
            return it->second;
    }
    return -1;
}

bool ObjectCache::inPrimaryIndex(std::int32_t e) const {
    if (e < 1 || e > m_count)
        return false;
    for (std::int32_t slot :
         m_primary[static_cast<std::size_t>(entry(e).objectNumber % primaryBuckets)]) {
        if (slot == e)
            return true;
    }
    return false;
}

}  // namespace ferretta::pdf
