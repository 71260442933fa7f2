#include "link/systemerror.h"

#include <cerrno>
#include <cstring>
#include <utility>

QString systemErrorText(int error)
{
    static const std::pair<int, const char *> kReasons[] = {
        {ENOSPC, "нет места на диске"},
#ifdef EDQUOT
        {EDQUOT, "превышена дисковая квота"},
#endif
        {EFBIG, "превышен предельный размер файла для программы (ulimit -f)"},
        {EROFS, "диск доступен только для чтения"},
        {EACCES, "нет прав"},
        {EPERM, "нет прав"},
        {EIO, "ошибка ввода-вывода"},
        {ENOTDIR, "в пути к файлу не папка"},
        {ENOENT, "нет такой папки или файла"},
        {EISDIR, "на месте файла папка"},
        {EPIPE, "читающая сторона закрыла канал"},
        {EBADF, "он закрыт"},
    };
    for (const auto &[code, reason] : kReasons) {
        if (code == error)
            return QString::fromUtf8(reason);
    }
    return QString::fromLocal8Bit(std::strerror(error));
}
