// The recogniser as a finite automaton, built lazily while a scan meets its states.
//
// Every token's counter moves deterministically with each byte (see CParser::CheckForToken), so
// the counters of all tokens together form the state of a finite automaton over the bytes. The
// automaton here holds the states met so far, each with its counters and one row of
// transitions; a transition is worked out by the plain walk the first time it is taken and
// then read from the row, so that in the common case a byte costs one table lookup.
//
// Bytes that appear in no token text all move every counter to 0 the same way; bytes are
// therefore mapped to classes first (class 0 for those, one class per byte used by the texts),
// and rows have one entry per class rather than 256.
//
// A table entry is the row offset of the next state (state index times the class count), or a
// completion (kCompletion | the index of the completed token; every counter is 0 afterwards,
// which is row 0), or kUnknown for a transition not yet worked out.
//
// Memory is capped: when a new state would pass the cap, every state is dropped and the table
// starts again from the zero state (Flushes() counts this, so that a caller can give up on the
// automaton for input that keeps filling it). A token set so large that not even a few states
// fit is refused by Build.
//
// The automaton keeps its own copy of the token texts: CToken's fields are public, so a handler
// may change a text behind the parser's back. BuiltFor tells whether the tokens are still those
// the automaton was built for.
//
// The tokens are passed as the storage of the parser's CPtrArray: void pointers, each one a
// CToken*.
#pragma once

#include <talmoor.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The memory cap of a scan's automaton, and the fewest states worth building it for. A test
// build makes both small, so that flushes and the fall back to the plain walk happen on small
// inputs.
#ifndef TALMOOR_AUTOMATON_MAX_BYTES
#define TALMOOR_AUTOMATON_MAX_BYTES (std::size_t{8} << 20)
#endif
#ifndef TALMOOR_AUTOMATON_MIN_STATES
#define TALMOOR_AUTOMATON_MIN_STATES 16
#endif

namespace talmoor_internal {

class TokenAutomaton {
public:
    static constexpr std::uint32_t kCompletion = 0x80000000u;
    static constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;
    static constexpr std::uint32_t kNoState = 0xFFFFFFFFu;
    static constexpr std::size_t kDefaultMaxBytes = TALMOOR_AUTOMATON_MAX_BYTES;

    explicit TokenAutomaton(std::size_t maxBytes = kDefaultMaxBytes) : m_maxBytes(maxBytes) {}
    TokenAutomaton(const TokenAutomaton&) = delete;
    TokenAutomaton& operator=(const TokenAutomaton&) = delete;

    // True when the automaton was built for exactly these tokens: the same objects, in the same
    // order, with the same texts.
    bool BuiltFor(void* const* tokens, std::size_t count) const;

    // Drops every state and takes the texts of these tokens. Returns false when too few states
    // fit under the memory cap to be worth it; the automaton is then unusable until the next
    // Build.
    bool Build(void* const* tokens, std::size_t count);

    // The class of each byte, and the transition rows; both move when states are added.
    const std::uint8_t* Classes() const { return m_classes; }
    const std::uint32_t* Table() const { return m_table.data(); }

    // Row of the state whose counters are the tokens' m_progress (the tokens this automaton was
    // built for), adding it when it is new. kNoState when a counter lies outside 0 to its text's
    // length less one, which no state of the automaton describes, or when memory for the state
    // ran out (the automaton is then unusable until the next Build).
    std::uint32_t Find(void* const* tokens);

    // The table entry for ch in the state of `row`, worked out by the plain walk and stored when
    // it was unknown. Adding the next state may drop every other state first (see Flushes).
    // kNoState when memory for the next state ran out: the automaton is then unusable until the
    // next Build, and StoreStepped writes the counters that ch led to into the tokens.
    std::uint32_t Step(std::uint32_t row, unsigned char ch);
    void StoreStepped(void* const* tokens) const;

    // Writes the counters of the state of `row` into the tokens' m_progress.
    void Store(std::uint32_t row, void* const* tokens) const;

    // How often the cap made the automaton drop its states, and how many states it holds.
    std::uint64_t Flushes() const { return m_flushes; }
    std::size_t States() const { return m_states; }
    std::size_t MaxStates() const { return m_maxStates; }

private:
    std::uint32_t Intern(const std::int32_t* counters);
    std::uint32_t AddState(const std::int32_t* counters, std::uint64_t hash);
    void Flush();
    void Discard();
    std::uint64_t Hash(const std::int32_t* counters) const;
    void Rehash(std::size_t slots);

    std::size_t m_maxBytes;
    std::size_t m_maxStates = 0;
    bool m_built = false;

    // The texts as built for: one string, each token's text at m_offsets[i], m_lengths[i] long.
    std::vector<const CToken*> m_tokenObjects;
    std::string m_texts;
    std::vector<std::size_t> m_offsets;
    std::vector<std::int32_t> m_lengths;

    std::uint8_t m_classes[256] = {};
    std::uint32_t m_classCount = 1;
    bool m_idleClass = true; // class 0 holds the bytes of no text

    std::size_t m_states = 0;
    std::vector<std::int32_t> m_counters; // m_states rows of m_lengths.size() counters
    std::vector<std::uint32_t> m_table;   // m_states rows of m_classCount entries
    std::vector<std::uint32_t> m_slots;   // hash of the counters: state index + 1, 0 when free
    std::vector<std::int32_t> m_scratch;
    std::uint64_t m_flushes = 0;
};

} // namespace talmoor_internal
