// A QR code of one text (the address a phone should open), drawn crisply:
// whole-pixel modules inside the four-module quiet zone the standard asks for.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

class CQrCodeWidget : public QWidget {
    Q_OBJECT

public:
    // Pixels per module: small enough for the window, large enough for a camera.
    static constexpr int kModulePixels = 3;
    static constexpr int kQuietModules = 4;

    explicit CQrCodeWidget(QWidget* pParent = nullptr);

    // Encodes strText; an empty text, or one too long for any QR version, shows nothing.
    void SetText(const QString& strText);
    const QString& Text() const { return m_strText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QString m_strText;
    int m_nWidth = 0;          // modules a side, without the quiet zone
    std::vector<bool> m_dark;  // row by row
};
