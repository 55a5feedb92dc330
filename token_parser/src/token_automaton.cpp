// The lazily built automaton of the recogniser (see token_automaton.h).
#include "token_automaton.h"

#include <cstring>
#include <new>

namespace talmoor_internal {

namespace {

// Below this many states the automaton would flush all the time; the plain walk is better.
constexpr std::size_t kMinStates = TALMOOR_AUTOMATON_MIN_STATES;

const char* Text(const CToken* t) {
    return t->m_tokenAsStr.GetString();
}

} // namespace

bool TokenAutomaton::BuiltFor(void* const* tokens, std::size_t count) const {
    if (!m_built || count != m_tokenObjects.size())
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        const CToken* t = static_cast<const CToken*>(tokens[i]);
        if (t != m_tokenObjects[i] || t->m_tokenAsStr.GetLength() != m_lengths[i] ||
            std::memcmp(Text(t), m_texts.data() + m_offsets[i],
                        static_cast<std::size_t>(m_lengths[i])) != 0)
            return false;
    }
    return true;
}

bool TokenAutomaton::Build(void* const* tokens, std::size_t count) try {
    m_built = false;
    m_tokenObjects.clear();
    for (std::size_t i = 0; i < count; ++i)
        m_tokenObjects.push_back(static_cast<const CToken*>(tokens[i]));
    m_texts.clear();
    m_offsets.clear();
    m_lengths.clear();
    bool used[256] = {};
    for (std::size_t i = 0; i < count; ++i) {
        const int length = m_tokenObjects[i]->m_tokenAsStr.GetLength();
        m_offsets.push_back(m_texts.size());
        m_lengths.push_back(length);
        m_texts.append(Text(m_tokenObjects[i]), static_cast<std::size_t>(length));
        for (int k = 0; k < length; ++k)
            used[static_cast<unsigned char>(Text(m_tokenObjects[i])[k])] = true;
    }
    m_classCount = 1;
    for (int c = 0; c < 256; ++c) {
        if (used[c])
            m_classes[c] = static_cast<std::uint8_t>(m_classCount++ & 0xFF);
        else
            m_classes[c] = 0;
    }
    // With every byte used by some text (possible only for texts changed behind the parser's
    // back, since a text ends at its first zero byte) there is no idle class: each byte is then
    // its own class.
    m_idleClass = m_classCount <= 256;
    if (!m_idleClass) {
        for (int c = 0; c < 256; ++c)
            m_classes[c] = static_cast<std::uint8_t>(c);
        m_classCount = 256;
    }

    // What one state costs: its row and its counters, twice over for the spare capacity of the
    // growing vectors, and up to four hash slots.
    const std::size_t perState =
        2 * (m_classCount + count) * sizeof(std::uint32_t) + 4 * sizeof(std::uint32_t);
    m_maxStates = m_maxBytes / perState;
    // Row offsets must stay below kCompletion.
    const std::size_t maxRows = (kCompletion - 1) / m_classCount;
    if (m_maxStates > maxRows)
        m_maxStates = maxRows;
    m_scratch.assign(count, 0);
    Flush();
    m_flushes = 0;
    m_built = m_maxStates >= kMinStates;
    return m_built;
} catch (const std::bad_alloc&) {
    Discard();
    return false;
}

void TokenAutomaton::Discard() {
    m_built = false;
    m_states = 0;
    std::vector<std::int32_t>().swap(m_counters);
    std::vector<std::uint32_t>().swap(m_table);
    std::vector<std::uint32_t>().swap(m_slots);
}

void TokenAutomaton::Flush() {
    ++m_flushes;
    m_states = 0;
    m_counters.clear();
    m_table.clear();
    m_slots.assign(64, 0);
    // Row 0 is the zero state, which every completion leads to.
    std::vector<std::int32_t> zero(m_lengths.size(), 0);
    AddState(zero.data(), Hash(zero.data()));
}

std::uint64_t TokenAutomaton::Hash(const std::int32_t* counters) const {
    std::uint64_t h = 0x9E3779B97F4A7C15u;
    for (std::size_t i = 0, n = m_lengths.size(); i < n; ++i) {
        h ^= static_cast<std::uint32_t>(counters[i]);
        h *= 0xFF51AFD7ED558CCDu;
        h ^= h >> 32;
    }
    return h;
}

void TokenAutomaton::Rehash(std::size_t slots) {
    m_slots.assign(slots, 0);
    const std::size_t n = m_lengths.size();
    for (std::size_t s = 0; s < m_states; ++s) {
        std::size_t at = static_cast<std::size_t>(Hash(&m_counters[s * n])) & (slots - 1);
        while (m_slots[at] != 0)
            at = (at + 1) & (slots - 1);
        m_slots[at] = static_cast<std::uint32_t>(s + 1);
    }
}

std::uint32_t TokenAutomaton::AddState(const std::int32_t* counters, std::uint64_t hash) {
    const std::size_t n = m_lengths.size();
    const std::size_t s = m_states;
    m_counters.insert(m_counters.end(), counters, counters + n);
    m_table.resize(m_table.size() + m_classCount, kUnknown);
    ++m_states;
    // Class 0 holds the bytes of no text: they drop every counter and complete nothing.
    if (m_idleClass)
        m_table[s * m_classCount] = 0;
    if (m_states * 2 > m_slots.size()) {
        Rehash(m_slots.size() * 2);
    } else {
        std::size_t at = static_cast<std::size_t>(hash) & (m_slots.size() - 1);
        while (m_slots[at] != 0)
            at = (at + 1) & (m_slots.size() - 1);
        m_slots[at] = static_cast<std::uint32_t>(s + 1);
    }
    return static_cast<std::uint32_t>(s * m_classCount);
}

std::uint32_t TokenAutomaton::Intern(const std::int32_t* counters) {
    const std::size_t n = m_lengths.size();
    const std::uint64_t hash = Hash(counters);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = static_cast<std::size_t>(hash) & mask; m_slots[at] != 0;
         at = (at + 1) & mask) {
        const std::size_t s = m_slots[at] - 1;
        if (n == 0 || std::memcmp(&m_counters[s * n], counters, n * sizeof(std::int32_t)) == 0)
            return static_cast<std::uint32_t>(s * m_classCount);
    }
    if (m_states >= m_maxStates) {
        // counters may point into m_scratch, never into the storage Flush clears.
        Flush();
        bool zero = true;
        for (std::size_t i = 0; i < n && zero; ++i)
            zero = counters[i] == 0;
        if (zero)
            return 0;
    }
    return AddState(counters, hash);
}

std::uint32_t TokenAutomaton::Find(void* const* tokens) {
    const std::size_t n = m_lengths.size();
    bool zero = true;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t p = static_cast<CToken*>(tokens[i])->m_progress;
        if (p < 0 || p >= m_lengths[i])
            return kNoState;
        m_scratch[i] = p;
        zero = zero && p == 0;
    }
    if (zero)
        return 0;
    try {
        return Intern(m_scratch.data());
    } catch (const std::bad_alloc&) {
        Discard();
        return kNoState;
    }
}

std::uint32_t TokenAutomaton::Step(std::uint32_t row, unsigned char ch) {
    const std::size_t n = m_lengths.size();
    const std::size_t at = row + m_classes[ch];
    if (m_table[at] != kUnknown)
        return m_table[at];
    if (n != 0) {
        std::memcpy(m_scratch.data(), &m_counters[row / m_classCount * n],
                    n * sizeof(std::int32_t));
    }
    // The walk of CheckForToken: from the last token to the first; a match moves a counter on,
    // a mismatch drops it to 0, and the first completion ends the walk.
    for (std::size_t i = n; i-- > 0;) {
        std::int32_t& p = m_scratch[i];
        if (static_cast<unsigned char>(m_texts[m_offsets[i] + static_cast<std::size_t>(p)]) != ch) {
            p = 0;
            continue;
        }
        if (++p == m_lengths[i]) {
            m_table[at] = kCompletion | static_cast<std::uint32_t>(i);
            return m_table[at];
        }
    }
    const std::uint64_t flushes = m_flushes;
    std::uint32_t next;
    try {
        next = Intern(m_scratch.data());
    } catch (const std::bad_alloc&) {
        Discard();
        return kNoState;
    }
    // After a flush `row` is gone; the next state's row is still right.
    if (m_flushes == flushes)
        m_table[at] = next;
    return next;
}

void TokenAutomaton::StoreStepped(void* const* tokens) const {
    for (std::size_t i = m_lengths.size(); i-- > 0;)
        static_cast<CToken*>(tokens[i])->m_progress = m_scratch[i];
}

void TokenAutomaton::Store(std::uint32_t row, void* const* tokens) const {
    const std::size_t n = m_lengths.size();
    for (std::size_t i = n; i-- > 0;)
        static_cast<CToken*>(tokens[i])->m_progress = m_counters[row / m_classCount * n + i];
}

} // namespace talmoor_internal
