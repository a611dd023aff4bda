#include "crypto/note_crypt.h"

#include <stdexcept>

namespace yunshan {

NoteFields encode_note_fields(const NoteFields &plain, int mode, const QString &password)
{
    static_cast<void>(plain);
    static_cast<void>(mode);
    static_cast<void>(password);
    throw std::runtime_error("加密笔记的保存尚未完成");
}

} // namespace yunshan
