#pragma once

#include <QString>
#include <QStringList>

// The lines the checks write, as the technician reads them in the log.
inline const QString kBsFound = QStringLiteral("Соединение с БС обнаружено");
inline const QStringList kLinkGood = {kBsFound, QStringLiteral("Принято = [@00BSU]"),
                                      QStringLiteral("Соединение с БСУ обнаружено"),
                                      QStringLiteral("Тестирование прошло успешно")};
inline const QStringList kError1 = {
    QStringLiteral("ОШИБКА №1, возможные причины:"), QStringLiteral("- не подключен БС к Com-порту."),
    QStringLiteral("- БС подключен не к тому Com-порту"), QStringLiteral("- неисправен кабель связи PC-БС"),
    QStringLiteral("- неисправен Com-порт компьютера"), QStringLiteral("- неисправен БС")};
inline const QStringList kError2 = {QStringLiteral("ОШИБКА №2, возможные причины:"),
                                    QStringLiteral("- отсутствует питание БС"), QStringLiteral("- неисправен БС")};
inline const QStringList kError3 = {QStringLiteral("ОШИБКА №3, возможные причины:"),
                                    QStringLiteral("- обрыв линии связи БС - БСУ"), QStringLiteral("- неисправен БС"),
                                    QStringLiteral("- неисправен БСУ")};
inline const QStringList kError4 = {QStringLiteral("ОШИБКА №4, возможные причины:"),
                                    QStringLiteral("- отсутствует питание БСУ"), QStringLiteral("- неисправен БСУ")};

// The three lines of a check of block n, addressed as the two hex digits given.
inline QStringList blockLines(int n, const QString &address, const QString &reply, bool answers)
{
    const QString no = QString::number(n);
    return {no + QStringLiteral(": Запрос = [#") + address + QStringLiteral("02]"),
            no + QStringLiteral(": Принято = [") + reply + QLatin1Char(']'),
            answers ? no + QStringLiteral(": Тестирование прошло успешно, блок отвечает")
                    : no + QStringLiteral(": Нет ответа от блока номер ") + no + QStringLiteral(" ?")};
}
