#!/usr/bin/python3
"""A Qt 5 main window for the desktop tests: a line edit with the focus and a
button. Prints its pid once shown; stays until killed."""
import os
import sys

from PyQt5.QtCore import QTimer
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
window.setCentralWidget(central)
window.resize(420, 200)
window.show()
window.activateWindow()
edit.setFocus()
QTimer.singleShot(0, lambda: print(os.getpid(), flush=True))
app.exec_()
