// The host's default connection: the one ExecutarSQL and ExecutarSQLDireto use when given none.
// Host side only: plug-ins never see this header.
#pragma once

#include "vesk/VeskPack5.h"

namespace vesk {

// Set by the host (null: none); the host keeps it alive while it is set.
VESKPACK_API void SetDefaultConnection(TVeskSQLConnection* Connection);
VESKPACK_API TVeskSQLConnection* DefaultConnection();

}  // namespace vesk
