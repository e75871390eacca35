#include "sessions/SessionNamer.h"

#include <QRandomGenerator>

const QStringList& SessionNamer::builtInPool() {
    static const QStringList pool{
        QStringLiteral("Ilya"),     QStringLiteral("Dobrynya"), QStringLiteral("Alyosha"), QStringLiteral("Svyatogor"),
        QStringLiteral("Mikula"),   QStringLiteral("Volga"),    QStringLiteral("Sadko"),   QStringLiteral("Vasilisa"),
        QStringLiteral("Yaga"),     QStringLiteral("Solovei"),  QStringLiteral("Koschei"), QStringLiteral("Finist"),
        QStringLiteral("Gorynych"), QStringLiteral("Marya"),    QStringLiteral("Nikitich"), QStringLiteral("Buslay"),
        QStringLiteral("Vasily"),   QStringLiteral("Stavr"),    QStringLiteral("Dunay"),   QStringLiteral("Churila"),
        QStringLiteral("Potok"),    QStringLiteral("Khoten"),   QStringLiteral("Danilo"),  QStringLiteral("Zabava"),
    };
    return pool;
}

const QStringList& SessionNamer::defaultPriority() {
    static const QStringList names{QStringLiteral("Yaga"), QStringLiteral("Finist"), QStringLiteral("Sadko"),
                                   QStringLiteral("Koschei"), QStringLiteral("Gorynych")};
    return names;
}

QStringList SessionNamer::priorityNames(const std::optional<QString>& preference) {
    QStringList names;
    if (preference) {
        for (const QString& piece : preference->split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            qsizetype begin = 0, end = piece.size();
            auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
            while (begin < end && blank(piece[begin])) ++begin;
            while (end > begin && blank(piece[end - 1])) --end;
            if (end > begin) names << piece.mid(begin, end - begin);
        }
    }
    return names.isEmpty() ? defaultPriority() : names;
}

std::optional<QString> SessionNamer::uniformPick(const QStringList& candidates) {
    if (candidates.isEmpty()) return std::nullopt;
    return candidates.at(qsizetype(QRandomGenerator::global()->bounded(quint32(candidates.size()))));
}

QString SessionNamer::next(const QSet<QString>& taken, int ordinal, const QStringList& priority,
                           const RandomPick& randomPick) {
    for (const QString& name : priority)
        if (!taken.contains(name)) return name;
    QStringList free;
    for (const QString& name : builtInPool())
        if (!taken.contains(name)) free << name;
    if (randomPick) {
        if (std::optional<QString> picked = randomPick(free)) return *picked;
    }
    return QStringLiteral("session-") + QString::number(ordinal);
}
