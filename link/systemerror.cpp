#include "link/systemerror.h"

#include <cerrno>
#include <cstring>

QString systemErrorText(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("нет места на диске");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("превышена дисковая квота");
#endif
    case EFBIG:
        return QStringLiteral("превышен предельный размер файла для программы (ulimit -f)");
    case EROFS:
        return QStringLiteral("диск доступен только для чтения");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case ENOTDIR:
        return QStringLiteral("в пути к файлу не папка");
    case ENOENT:
        return QStringLiteral("нет такой папки или файла");
    case EISDIR:
        return QStringLiteral("на месте файла папка");
    case EPIPE:
        return QStringLiteral("читающая сторона закрыла канал");
    case EBADF:
        return QStringLiteral("он закрыт");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}
