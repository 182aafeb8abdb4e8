// Tag type of the view constructors of the dense vectors.
#pragma once

struct MV_Vector_ {
  // Third argument of the view constructors; stored unchanged as the
  // vector's ref_ flag (1: the storage belongs to someone else).
  enum ref_type { ref = 1 };
};
