# Python modules of the vadu host tools: pyvadu (runtime) and pychipctl (device control).
