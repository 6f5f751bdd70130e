// A control of a window found as an operator's tool would find it: by its
// object name. A missing or doubled name throws, which fails the test with the
// name in its message instead of crashing on a null pointer.
#pragma once

#include <QObject>

#include <stdexcept>
#include <string>

template <class T> T* Control(const QObject& form, const char* name) {
    const QList<T*> found = form.findChildren<T*>(QString::fromLatin1(name));
    if (found.size() != 1)
        throw std::logic_error(std::string(found.isEmpty() ? "no " : "more than one ") +
                               T::staticMetaObject.className() + " named \"" + name + "\" in " +
                               form.objectName().toStdString());
    return found.front();
}
