"""Windows paths on a host folder that stands for a drive."""
import os


def below(drive_root, windows_path):
    """The file under `drive_root` for a path such as C:\\a\\B, each name matched
    as Windows matches it, without regard to case (its own spelling first)."""
    path = drive_root
    for part in windows_path[3:].split("\\"):
        if not part:
            continue
        exact = os.path.join(path, part)
        if not os.path.lexists(exact) and os.path.isdir(path):
            exact = next((os.path.join(path, n) for n in os.listdir(path) if n.lower() == part.lower()), exact)
        path = exact
    return path
