#include "QrCodeWidget.h"

#include <qrencode.h>

#include <QPainter>
#include <memory>

CQrCodeWidget::CQrCodeWidget(QWidget* pParent) : QWidget(pParent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CQrCodeWidget::SetText(const QString& strText) {
    if (strText == m_strText) {
        return;
    }
    m_strText = strText;
    m_nWidth = 0;
    m_dark.clear();
    const QByteArray utf8 = strText.toUtf8();
    // Level M: a phone still reads it with a smudge, and a URL stays a small version.
    const std::unique_ptr<QRcode, void (*)(QRcode*)> pCode(
        utf8.isEmpty() ? nullptr
                       : QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1),
        QRcode_free);
    if (pCode) {
        m_nWidth = pCode->width;
        m_dark.resize(static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nWidth));
        for (size_t n = 0; n < m_dark.size(); ++n) {
            m_dark[n] = (pCode->data[n] & 1) != 0;  // bit 0: dark module
        }
    }
    updateGeometry();
    update();
}

QSize CQrCodeWidget::sizeHint() const {
    const int nSide = m_nWidth == 0 ? 0 : (m_nWidth + 2 * kQuietModules) * kModulePixels;
    return {nSide, nSide};
}

void CQrCodeWidget::paintEvent(QPaintEvent*) {
    if (m_nWidth == 0) {
        return;
    }
    QPainter painter(this);
    // Scanners want dark on light whatever the desktop's colours are.
    painter.fillRect(QRect(QPoint(0, 0), sizeHint()), Qt::white);
    const int nOrigin = kQuietModules * kModulePixels;
    for (int nRow = 0; nRow < m_nWidth; ++nRow) {
        for (int nColumn = 0; nColumn < m_nWidth; ++nColumn) {
            if (m_dark[static_cast<size_t>(nRow * m_nWidth + nColumn)]) {
                painter.fillRect(nOrigin + nColumn * kModulePixels, nOrigin + nRow * kModulePixels,
                                 kModulePixels, kModulePixels, Qt::black);
            }
        }
    }
}
