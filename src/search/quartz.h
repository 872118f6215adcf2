// Export of ECC collections as Quartz ECC-set JSON, a write-only format for
// other circuit optimisers.
//
// The document is `[[[0],[0]],{members}]`, compact (no spaces, no line
// feed). Each class of two or more circuits becomes one member per distinct
// trailing permutation among its pairs ("variant"), keyed "{k:x}_{v}" (class
// index in hex, variant number), members in byte order of their keys. A
// variant lists every circuit of the class with its permutation relative to
// the variant's base permutation written out as swap gates; each circuit is
// [[width, gate count], [[gate, [qubits], [qubits]], ...]] with qubits as
// "Q<n>".
//
// Collections loaded from files are validated before anything is built:
// malformed classes abort. Thread safety: only reads the collection.
#ifndef TREVALON_SEARCH_QUARTZ_H_
#define TREVALON_SEARCH_QUARTZ_H_

#include <string>
#include <vector>

#include "circ/instr.h"
#include "search/ecc.h"

namespace trevalon {

// One variant: an instruction list per circuit of the class, swaps appended.
using QuartzVariant = std::vector<std::vector<Instr32>>;

// The variants of `ecc`, one per distinct permutation in order of first
// occurrence; variant 0 equals `ecc.circuits()`. Aborts in the permutation
// product when the pairs' permutations differ in length.
std::vector<QuartzVariant> generate_ecc_with_swap(const ECC& ecc);

// Appends the JSON array of circuit entries of `variant` to `out`.
void ecc_to_json(const QuartzVariant& variant, std::string& out);

// The whole document. Aborts (ECC::validate) when any class is malformed
// for `eccs.nqubits()`.
std::string as_quartz(const ECCs& eccs);

// Builds the document, then replaces the file at `path` with it
// (utils/file_replace.h: a failed export leaves the old file intact).
// Throws RecordError kCreateFile when the file cannot be created, kWriteJson
// ("Failed to write JSON: {os text}") when writing fails.
void dump_quartz(const ECCs& eccs, const std::string& path);

}  // namespace trevalon

#endif  // TREVALON_SEARCH_QUARTZ_H_
