#include "fileidentity.h"

namespace kesto {

FileIdentity identityOfPlaced(const FileIdentity &atLastByte, const FileIdentity &placed)
{
    const bool same = placed.exists && placed.device == atLastByte.device &&
                      placed.inode == atLastByte.inode && placed.size == atLastByte.size &&
                      placed.mtimeNs == atLastByte.mtimeNs;
    return same ? placed : atLastByte;
}

} // namespace kesto
