"""A real X window with a focused text field, for ovrin type to type into:
whatever the field holds is written to the file given, as it changes."""
import os
import sys
import tkinter

out = sys.argv[1]
root = tkinter.Tk()
root.title("type target")
field = tkinter.Text(root, width=40, height=10)
field.pack()


def save():
    with open(out + ".new", "w") as file:
        file.write(field.get("1.0", "end-1c"))
    os.replace(out + ".new", out)
    root.after(50, save)


root.update()
root.focus_force()
field.focus_set()
root.after(50, save)
root.mainloop()
