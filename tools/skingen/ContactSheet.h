#pragma once

// One picture of every skin image on the dialog background, each labelled with
// its path, at 100 % and (for the small ones) enlarged, so the set can be
// judged at a glance.

#include <QColor>
#include <QImage>
#include <QString>

#include <utility>
#include <vector>

namespace velmora::skingen {

QImage MakeContactSheet(const std::vector<std::pair<QString, QImage>>& images, const QColor& background,
                        const QColor& labelColor, int zoom);

} // namespace velmora::skingen
