#pragma once
// Correspondence lists of the template merge: entries joining a minutia of a
// first feature set (by index) with a minutia of a second one. The merge keeps
// two per alignment: the one-to-one list (no index used twice) and the
// ambiguous list (entries that share a minutia with another entry).
#include <cstdint>

namespace vorsensor {

// The length of every list, the same as the matcher's index lists.
constexpr int32_t kMaxCorrespondences = 1024;

struct CorrespondenceList {
  int32_t count;
  uint16_t first[kMaxCorrespondences];
  uint16_t second[kMaxCorrespondences];
};

// Appends (first, second) unless the list is full; false when it was full.
bool AppendCorrespondence(CorrespondenceList* list, uint16_t first, uint16_t second);
// Removes the entry at `position`; later entries move up by one.
void RemoveCorrespondence(CorrespondenceList* list, int32_t position);
// Removes and appends the entry at `position` of `from` to `to`.
void MoveCorrespondence(CorrespondenceList* from, int32_t position, CorrespondenceList* to);
// `target` := `source` with first and second swapped in every entry.
void ReverseCorrespondences(const CorrespondenceList& source, CorrespondenceList* target);

// Moves every entry of `list` that shares its first or its second index with
// another entry (directly or through a chain of such entries) to the end of
// `ambiguous`. The list is walked from the front: the later entries that share
// an index with the entry at i are moved first, then the entry at i itself;
// then every entry left that shares an index with a moved entry follows, in
// the order the moved entries are visited (entries moved meanwhile included).
void SetAsideAmbiguous(CorrespondenceList* list, CorrespondenceList* ambiguous);

// Unites the two directions of one pair of feature sets. `forward` lists
// (minutia of set s, minutia of set t); `backward` lists (t, s). Every
// backward entry removes the first forward entry that joins the same two
// minutiae; the forward entries left are appended to `backward` reversed (the
// first kMaxCorrespondences entries are kept), the ambiguous entries are set
// aside into `backwardAmbiguous`, and `forward` / `forwardAmbiguous` become
// the reversed copies of the two backward lists. Both ambiguous lists are
// overwritten.
void UniteCorrespondences(CorrespondenceList* forward, CorrespondenceList* forwardAmbiguous,
                          CorrespondenceList* backward, CorrespondenceList* backwardAmbiguous);

}  // namespace vorsensor
