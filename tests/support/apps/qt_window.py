#!/usr/bin/python3
"""A Qt 5 main window for the desktop tests: a line edit with the focus and a
button, on a plain background of the colour RRGGBB after --colour if given. Prints
its pid once shown; stays until killed."""
import os
import sys

from PyQt5.QtCore import QTimer
from PyQt5.QtGui import QColor, QPalette
from PyQt5.QtWidgets import QApplication, QComboBox, QLineEdit, QMainWindow, QPushButton, QVBoxLayout, QWidget

app = QApplication(sys.argv)
window = QMainWindow()
window.setWindowTitle("Qt test window")
central = QWidget()
layout = QVBoxLayout(central)
edit = QLineEdit("qt typed text")
layout.addWidget(edit)
layout.addWidget(QPushButton("Qt button"))
# A drop-down: asking it for its choice must not harm the application.
rig = QComboBox()
rig.addItems(["Qt sloop", "Qt schooner"])
rig.setCurrentIndex(1)
layout.addWidget(rig)
if "--colour" in sys.argv[:-1]:
    palette = central.palette()
    palette.setColor(QPalette.Window, QColor("#" + sys.argv[sys.argv.index("--colour") + 1]))
    central.setPalette(palette)
    central.setAutoFillBackground(True)
window.setCentralWidget(central)
window.resize(420, 200)
window.show()
window.activateWindow()
edit.setFocus()
QTimer.singleShot(0, lambda: print(os.getpid(), flush=True))
app.exec_()
