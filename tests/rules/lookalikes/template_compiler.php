<?php
// A tiny template engine: {{ name }} becomes an escaped echo, and the
// compiled PHP is run with the template variables in scope.
class TinyTemplate
{
    private $dir;

    public function __construct($dir)
    {
        $this->dir = $dir;
    }

    public function compile($source)
    {
        $php = preg_replace('/\{\{\s*(\w+)\s*\}\}/', '<?php echo htmlspecialchars($$1); ?>', $source);
        return preg_replace('/\{%\s*if (\w+)\s*%\}/', '<?php if ($$1): ?>', $php);
    }

    public function render($name, array $vars)
    {
        $compiled = $this->compile(file_get_contents($this->dir . '/' . basename($name) . '.tpl'));
        extract($vars, EXTR_SKIP);
        ob_start();
        eval('?>' . $compiled);
        return ob_get_clean();
    }
}

$view = new TinyTemplate(__DIR__ . '/templates');
echo $view->render('page', array('title' => 'Welcome', 'user' => 'guest'));
