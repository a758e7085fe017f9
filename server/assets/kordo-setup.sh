#!/bin/sh
# The "installer" the practice server offers through "newVersion": it only
# says so.  Nothing is installed or changed.
echo "Le Kordo : programme d'installation de démonstration, rien n'est modifié."
